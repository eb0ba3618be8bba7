#include "startup/ListRules.h"

#include "common/files.h"
#include "common/winnames.h"

namespace kestlin {

bool IsReservedName(const std::string &path)
{
    return FileNameOf(path) == kReservedFileName;
}

std::string NameRefusal(const std::string &path)
{
    if (IsReservedName(path))
        return std::string("システムで予約されているファイル名です。\r\n") + kRenameAndRetry;
    const WindowsNameFault fault = CheckWindowsName(FileNameOf(path));
    if (fault == WindowsNameFault::None)
        return {};
    return "「" + FileNameOf(path) + "」は受信側のWindowsで使えないファイル名です。\r\n"
           + std::string(WindowsNameFaultText(fault)) + "。\r\n" + kRenameAndRetry;
}

} // namespace kestlin
