#include "writer/archive_writer.h"

#include <cstring>

#include "format/archive_header.h"
#include "base/text.h"
#include "protection/md5.h"
#include "protection/password.h"
#include "protection/payload_key.h"

namespace winqor {
namespace {

bool SealPayload(std::vector<uint8_t>& payload, const ArchiveOptions& options, HeaderFields& fields,
                 std::string& reason) {
    if (!options.passwordDigest) return true;
    const uint8_t* digest = options.passwordDigest->data();
    // A reader refuses every password whose digest starts with a zero byte.
    if (ComputeCheckValue(fields.passwordCheck, digest) == nullptr) {
        reason = "this password can never be accepted by a reader: choose another password";
        return false;
    }
    uint8_t key[16];
    DeriveKey(key, fields.keySeed, digest);
    EncryptPayload(payload.data(), payload.data(), static_cast<int32_t>(payload.size()), key);
    fields.encrypted = true;
    return true;
}

}  // namespace

std::array<uint8_t, 4> ContentKeySeed(const std::array<uint8_t, 16>& passwordDigest,
                                      std::span<const uint8_t> records) {
    std::vector<uint8_t> hashed(passwordDigest.begin(), passwordDigest.end());
    hashed.insert(hashed.end(), records.begin(), records.end());
    uint8_t digest[kDigestBytes];
    Md5Digest(digest, hashed.data(), static_cast<int32_t>(hashed.size()));
    return {digest[0], digest[1], digest[2], digest[3]};
}

bool WriteArchive(std::span<const uint8_t> records, const ArchiveOptions& options,
                  std::vector<uint8_t>& archive, std::string& reason) {
    if (records.empty() || records.size() > kMaxPayloadSize) {
        reason = "the record stream must be 1 to " + WithThousands(kMaxPayloadSize) + " bytes";
        return false;
    }
    std::vector<uint8_t> payload;
    if (!CompressBzip2(records, payload)) {
        reason = "bzip2 compression failed";
        return false;
    }
    if (payload.size() > kMaxPayloadSize) {
        reason = "the compressed payload exceeds " + WithThousands(kMaxPayloadSize) + " bytes";
        return false;
    }
    HeaderFields fields;
    fields.packedSize = static_cast<uint32_t>(payload.size());
    fields.unpackedSize = static_cast<uint32_t>(records.size());
    fields.embedded = options.embedded;
    fields.runSetup = options.runSetup;
    std::memcpy(fields.keySeed, options.keySeed.data(), 4);
    Md5Digest(fields.payloadDigest, payload.data(), static_cast<int32_t>(payload.size()));
    if (!SealPayload(payload, options, fields, reason)) return false;
    archive.resize(kHeaderBytes);
    BuildHeader(fields, archive.data());
    archive.insert(archive.end(), payload.begin(), payload.end());
    return true;
}

}  // namespace winqor
