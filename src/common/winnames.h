#pragma once
// File names as the receiving Windows sees them: the names it cannot hold, and
// when two names are one file there. The program and libcab32 share these
// rules, so this part uses nothing but the standard library.
#include <string>
#include <string_view>

namespace kestlin {

enum class WindowsNameFault {
    None,
    // One of \ / : * ? " < > | or a control character (U+0000 to U+001F).
    Character,
    // A final "." or " ": Windows drops it, so the file would change its name.
    Ending,
    // A device name (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, COM and
    // LPT also with the superscript digits ¹ ² ³, which Windows reads as
    // digits here), alone or before an extension, in any letter case, with
    // blanks before the first "." ignored: "nul.txt", "Com1.tar.gz", "CON .csv".
    DeviceName,
};

// What keeps Windows from holding name (one path component, UTF-8) as the
// name of a file or folder.
WindowsNameFault CheckWindowsName(std::string_view name);

// One Japanese sentence without its final "。" that tells the user what the
// fault is, for the messages of the program and of libcab32.
std::string_view WindowsNameFaultText(WindowsNameFault fault);

// The name as Windows compares names: two names are one file there exactly
// when their keys are equal. Windows upper-cases every UTF-16 unit through the
// NTFS table; the key upper-cases every character of the Basic Multilingual
// Plane by its simple upper-case mapping of Unicode 14, except that nothing
// outside ASCII becomes ASCII ("ı" and "ſ" stay apart from "I" and "S", as on
// Windows). This folds everything the NTFS table of Windows Vista and later
// folds ("ａ" and "Ａ", "ⅰ" and "Ⅰ", "ä" and "Ä", Greek and Cyrillic) and a
// few pairs more ("µ" and "Μ"), which only costs a name that need not have
// changed. Characters beyond the plane and bytes that are not UTF-8 stay as
// they are.
std::string WindowsNameKey(std::string_view name);

} // namespace kestlin
