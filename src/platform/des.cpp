// OpenSSL 3 keeps single DES only in its legacy provider for the EVP interface; the
// low-level block functions still work without loading a provider, so use those.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "platform/des.h"

#include <openssl/des.h>

#include <cstring>

namespace tarvex::platform {

namespace {
std::string run(std::string_view data, const DesKey& key, int enc) {
    DES_cblock k;
    std::memcpy(k, key.data(), 8);
    DES_key_schedule ks;
    DES_set_key_unchecked(&k, &ks);
    std::string out(data.size(), '\0');
    for (std::size_t i = 0; i + 8 <= data.size(); i += 8) {
        DES_cblock in, res;
        std::memcpy(in, data.data() + i, 8);
        DES_ecb_encrypt(&in, &res, &ks, enc);
        std::memcpy(out.data() + i, res, 8);
    }
    return out;
}
}  // namespace

std::string desEcbEncrypt(std::string_view data, const DesKey& key) {
    return run(data, key, DES_ENCRYPT);
}
std::string desEcbDecrypt(std::string_view data, const DesKey& key) {
    return run(data, key, DES_DECRYPT);
}

}  // namespace tarvex::platform
