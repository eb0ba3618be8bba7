#include "settings/StoredPassword.h"

#include "common/syserror.h"
#include "packaging/clsCryptFile.h"

#include <cerrno>

namespace kestlin {

DecryptedPassword DecryptStoredPassword(const std::string &stored)
{
    DecryptedPassword result;
    clsCryptFile crypt;
    crypt.InFile(stored);
    crypt.Password(kFixedPassword);
    if (!crypt.Decrypt(1)) {
        result.reason = crypt.GetErrMsg().empty() ? SystemErrorText(EINVAL) : crypt.GetErrMsg();
        return result;
    }
    result.ok = true;
    result.password = crypt.OutFile();
    return result;
}

} // namespace kestlin
