// The primitives from the system's own CryptoAPI (advapi32): every Windows has it, so
// winqor.exe carries no crypto library of its own.
#include <windows.h>
// After windows.h, which it needs, and which leaves it out when kept lean.
#include <wincrypt.h>

#include <cstring>

#include "protection/crypto_backend.h"

namespace winqor::crypto {
namespace {

// A verify-only context (no key container, nothing stored) of the enhanced provider, which
// has MD5, DES and the generator. Acquired on first use, released at exit; the provider
// takes calls from several threads on one context.
class Provider {
  public:
    Provider() {
        if (!CryptAcquireContextW(&handle_, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL,
                                  CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
            handle_ = 0;
        }
    }
    ~Provider() {
        if (handle_ != 0) CryptReleaseContext(handle_, 0);
    }
    Provider(const Provider&) = delete;
    Provider& operator=(const Provider&) = delete;
    HCRYPTPROV handle() const { return handle_; }

  private:
    HCRYPTPROV handle_ = 0;
};

HCRYPTPROV SharedProvider() {
    static const Provider provider;
    return provider.handle();
}

// The layout CryptImportKey reads for a key given in plain.
struct DesKeyBlob {
    BLOBHEADER header;
    DWORD size;
    BYTE key[8];
};

HCRYPTKEY ImportDesKey(const uint8_t key[8]) {
    DesKeyBlob blob = {{PLAINTEXTKEYBLOB, CUR_BLOB_VERSION, 0, CALG_DES}, sizeof blob.key, {}};
    std::memcpy(blob.key, key, sizeof blob.key);
    HCRYPTKEY handle = 0;
    const BOOL imported = CryptImportKey(SharedProvider(), reinterpret_cast<const BYTE*>(&blob),
                                         sizeof blob, 0, 0, &handle);
    SecureZeroMemory(&blob, sizeof blob);
    return imported ? handle : 0;
}

bool StartCbc(HCRYPTKEY handle, const uint8_t iv[8]) {
    const DWORD mode = CRYPT_MODE_CBC;
    return CryptSetKeyParam(handle, KP_MODE, reinterpret_cast<const BYTE*>(&mode), 0) &&
           CryptSetKeyParam(handle, KP_IV, iv, 0);
}

// Final stays FALSE: the format has no padding, and only a final call adds or strips any.
bool RunInPlace(HCRYPTKEY handle, uint8_t* data, DWORD length, bool encrypt) {
    DWORD size = length;
    const BOOL done = encrypt ? CryptEncrypt(handle, 0, FALSE, 0, data, &size, length)
                              : CryptDecrypt(handle, 0, FALSE, 0, data, &size);
    return done && size == length;
}

}  // namespace

bool Md5(uint8_t out[16], const uint8_t* data, size_t length) {
    HCRYPTHASH hash = 0;
    if (length > MAXDWORD || !CryptCreateHash(SharedProvider(), CALG_MD5, 0, 0, &hash)) {
        return false;
    }
    DWORD size = 16;
    const bool done = CryptHashData(hash, data, static_cast<DWORD>(length), 0) &&
                      CryptGetHashParam(hash, HP_HASHVAL, out, &size, 0) && size == 16;
    CryptDestroyHash(hash);
    return done;
}

bool DesCbc(const uint8_t* in, uint8_t* out, size_t length, const uint8_t key[8],
            const uint8_t iv[8], bool encrypt) {
    if (length > MAXDWORD) return false;
    const HCRYPTKEY handle = ImportDesKey(key);
    if (handle == 0) return false;
    // The provider works in place; memmove also serves in == out.
    std::memmove(out, in, length);
    const bool done =
        StartCbc(handle, iv) && RunInPlace(handle, out, static_cast<DWORD>(length), encrypt);
    CryptDestroyKey(handle);
    return done;
}

bool SystemRandom(uint8_t* out, size_t count) {
    while (count > 0) {
        const DWORD chunk = count > MAXDWORD ? MAXDWORD : static_cast<DWORD>(count);
        if (!CryptGenRandom(SharedProvider(), chunk, out)) return false;
        out += chunk;
        count -= chunk;
    }
    return true;
}

}  // namespace winqor::crypto
