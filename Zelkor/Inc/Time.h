// Time conversion and formatting. A file time is the platform's FILETIME read as one signed
// 64-bit count of 100-nanosecond intervals since 1601-01-01 00:00 UTC.
#pragma once

#include <windows.h>

#include <cstdint>

#include "UnicodeString.h"

namespace Zelkor {

// A platform FILETIME as one number, and back. A time that is negative as a signed number (one
// no calendar reaches, such as a corrupt directory entry) is an internal error.
int64_t FileTimeToValue(const FILETIME& time);
FILETIME ValueToFileTime(int64_t value);

// Converts a calendar time taken as local time of this machine into a UTC file time, with the
// time-zone rules in force at that date (so the result does not depend on today's season).
int64_t LocalSystemTimeToFileTime(const SYSTEMTIME& localTime);

// Formats the calendar fields of fileTime itself (no shift to local time) with a wcsftime
// pattern. "%L" is an added conversion: the milliseconds as three digits. language is an index
// of the interface languages, or -1 for the runtime's current locale; a language the system
// does not have also formats in the current locale. Day of year and week numbers are not
// supported. format must not be null.
CUnicodeString FormatTime(const wchar_t* format, int64_t fileTime, int32_t language = -1);

} // namespace Zelkor
