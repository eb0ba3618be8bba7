#include "common/timestamp.h"

#include <cstdio>
#include <ctime>

namespace kestlin {

DateTime Now()
{
    std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    return { local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
             local.tm_hour,        local.tm_min,     local.tm_sec };
}

namespace {
std::string Format(const char *pattern, const DateTime &t)
{
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, pattern, t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return buffer;
}
} // namespace

std::string FormatLogStamp(const DateTime &t)
{
    return Format("%04d%02d%02d%02d%02d%02d", t);
}

std::string FormatSendFileStamp(const DateTime &t)
{
    return FormatLogStamp(t);
}

std::string FormatLogFolderStamp(const DateTime &t)
{
    return Format("%04d%02d%02d_%02d%02d%02d", t);
}

std::string FormatMessageStamp(const DateTime &t)
{
    return Format("%04d年%02d月%02d日%02d時%02d分%02d秒", t);
}

} // namespace kestlin
