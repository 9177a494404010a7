#include "crypto/Gcrypt.h"

#include "platform/Error.h"

#include <gcrypt.h>

#include <mutex>

namespace vek::crypto {

void ensureGcrypt()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (gcry_check_version(GCRYPT_VERSION) == nullptr) {
            throw Error("libgcrypt: versão incompatível da biblioteca");
        }
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    });
}

std::string gcryptMessage(unsigned int err)
{
    return std::string(gcry_strsource(err)) + ": " + gcry_strerror(err);
}

}  // namespace vek::crypto
