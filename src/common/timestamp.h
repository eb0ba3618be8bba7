#pragma once
// Local date and time, read from the clock once and then formatted as often as
// needed, so that every name and message of one event shows the same second.
#include <string>

namespace kestlin {

struct DateTime
{
    int year = 0;
    int month = 0; // 1 to 12
    int day = 0;
    int hour = 0; // 0 to 23
    int minute = 0;
    int second = 0;
};

// One read of the clock, in local time.
DateTime Now();

// "YYYYMMDDHHmmSS": names of the submission log and the error log.
std::string FormatLogStamp(const DateTime &t);
// "YYYYMMDDhhmmss": name of the mailed file (also 24-hour, so the same digits).
std::string FormatSendFileStamp(const DateTime &t);
// "YYYYMMDD_HHmmSS": folder of the attachment log.
std::string FormatLogFolderStamp(const DateTime &t);
// "YYYY年MM月DD日HH時mm分ss秒": the success message.
std::string FormatMessageStamp(const DateTime &t);

} // namespace kestlin
