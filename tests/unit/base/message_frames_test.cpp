#include "base/message_frames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace winqor {
namespace {

// The channel's bytes arrive in reads of any size: every message comes out whole and in order
// however the frames are cut, a frame cut short is held until the rest comes, and a length
// past the limit or a message the receiver refuses ends the reading with why.
TEST(FrameReader, MessagesComeOutWholeHoweverTheChannelCutsThem) {
    const std::vector<std::string> messages = {"Dfirst", "", std::string(300, 'x'), "R\0end"};
    std::string channel;
    for (const auto& message : messages) channel += FrameMessage(message);
    for (size_t read : {size_t{1}, size_t{3}, size_t{4}, size_t{5}, size_t{64}, channel.size()}) {
        SCOPED_TRACE(read);
        FrameReader reader(1000);
        std::vector<std::string> got;
        std::string why;
        for (size_t at = 0; at < channel.size(); at += read) {
            ASSERT_TRUE(reader.Take(
                channel.data() + at, std::min(read, channel.size() - at),
                [&](std::string_view m) {
                    got.emplace_back(m);
                    return true;
                },
                why));
        }
        EXPECT_EQ(got, messages);
        EXPECT_TRUE(reader.Whole());
    }
}

TEST(FrameReader, RefusesTooLongAndRefusedMessagesAndHoldsACutOne) {
    struct Case {
        const char* what;
        std::string channel;
        bool refuse;
        bool taken;
        const char* why;
        bool whole;
    };
    const Case cases[] = {
        {"a length past the limit", FrameMessage(std::string(11, 'a')), false, false,
         "it announced a message of 11 bytes", false},
        {"the limit itself", FrameMessage(std::string(10, 'a')), false, true, "", true},
        {"refused by the receiver", FrameMessage("Zbad"), true, false,
         "it sent a message that breaks the rules", false},
        {"cut short", FrameMessage("whole").substr(0, 7), false, true, "", false},
        {"a length cut short", std::string("\x05\x00", 2), false, true, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FrameReader reader(10);
        std::string why;
        const bool taken = reader.Take(
            c.channel.data(), c.channel.size(), [&](std::string_view) { return !c.refuse; }, why);
        EXPECT_EQ(taken, c.taken);
        EXPECT_EQ(why, c.why);
        if (taken) {
            EXPECT_EQ(reader.Whole(), c.whole);
        }
    }
}

}  // namespace
}  // namespace winqor
