// The frames of the channel between the sandboxed child and its parent: each message travels
// as a 32-bit length in the machine's order (both ends are this program), then its bytes. The
// parent cuts what arrives into messages here, distrusting every length the child announces.
// Pure code, apart from the channel, so that a fuzz target can feed it any bytes a taken-over
// child could write.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

namespace winqor {

class FrameReader {
  public:
    explicit FrameReader(uint32_t maxBytes) : maxBytes_(maxBytes) {}

    // Takes count more bytes of the channel and hands every message they complete to receive.
    // false, with why, when a message is longer than allowed or receive refuses it.
    bool Take(const char* bytes, size_t count, const std::function<bool(std::string_view)>& receive,
              std::string& why) {
        buffer_.append(bytes, count);
        size_t start = 0;
        for (uint32_t length = 0; buffer_.size() - start >= sizeof length;
             start += sizeof length + length) {
            std::memcpy(&length, buffer_.data() + start, sizeof length);
            if (length > maxBytes_) {
                why = "it announced a message of " + std::to_string(length) + " bytes";
                return false;
            }
            if (buffer_.size() - start - sizeof length < length) break;
            if (!receive(std::string_view(buffer_.data() + start + sizeof length, length))) {
                why = "it sent a message that breaks the rules";
                return false;
            }
        }
        buffer_.erase(0, start);
        return true;
    }

    // Whether no message is left cut short.
    bool Whole() const { return buffer_.empty(); }

  private:
    std::string buffer_;
    uint32_t maxBytes_;
};

// One message as its frame.
inline std::string FrameMessage(std::string_view message) {
    const auto length = static_cast<uint32_t>(message.size());
    std::string frame(reinterpret_cast<const char*>(&length), sizeof length);
    frame.append(message);
    return frame;
}

}  // namespace winqor
