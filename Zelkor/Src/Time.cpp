// Time conversion and formatting.
#include <windows.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <ctime>
#include <cwchar>

#include "Errors.h"
#include "ResourceInfo.h"
#include "Time.h"

namespace Zelkor {

namespace TimeInternal {

// Writes the milliseconds in place of every "%L" conversion into expanded; false, and nothing
// copied, for a format without one. The scan has two states so that "%%L" (a literal percent
// sign followed by L) is left to strftime.
bool ExpandMilliseconds(const wchar_t* format, int32_t length, unsigned milliseconds, CUnicodeString& expanded)
{
    wchar_t digits[4];
    _snwprintf(digits, 4, L"%03u", milliseconds % 1000);
    bool copied = false;
    bool afterPercent = false;
    int32_t copiedUpTo = 0; // units of format already in expanded
    for (int32_t i = 0; i < length; ++i) {
        if (!afterPercent) {
            afterPercent = format[i] == L'%';
            continue;
        }
        afterPercent = false;
        if (format[i] != L'L')
            continue;
        copied = true;
        expanded.Append(format + copiedUpTo, i - 1 - copiedUpTo);
        expanded.Append(digits, 3);
        copiedUpTo = i + 1;
    }
    if (copied)
        expanded.Append(format + copiedUpTo, length - copiedUpTo);
    return copied;
}

// msvcrt's _create_locale knows "German_Germany" and "de" but not "de-DE"; newer runtimes know
// the locale name. Try the name first, then the English language and country names.
_locale_t CreateTimeLocale(const CUnicodeString& localeName)
{
    char narrow[LOCALE_NAME_MAX_LENGTH * 2 + 2];
    if (WideCharToMultiByte(CP_ACP, 0, localeName.GetText(), -1, narrow, sizeof narrow, nullptr, nullptr) > 0) {
        if (_locale_t locale = _create_locale(LC_TIME, narrow))
            return locale;
    }
    wchar_t language[LOCALE_NAME_MAX_LENGTH];
    wchar_t country[LOCALE_NAME_MAX_LENGTH];
    if (!GetLocaleInfoEx(localeName.GetText(), LOCALE_SENGLISHLANGUAGENAME, language, LOCALE_NAME_MAX_LENGTH) ||
        !GetLocaleInfoEx(localeName.GetText(), LOCALE_SENGLISHCOUNTRYNAME, country, LOCALE_NAME_MAX_LENGTH))
        return nullptr;
    wchar_t combined[LOCALE_NAME_MAX_LENGTH * 2 + 2];
    _snwprintf(combined, LOCALE_NAME_MAX_LENGTH * 2 + 2, L"%s_%s", language, country);
    combined[LOCALE_NAME_MAX_LENGTH * 2 + 1] = 0;
    if (WideCharToMultiByte(CP_ACP, 0, combined, -1, narrow, sizeof narrow, nullptr, nullptr) <= 0)
        return nullptr;
    return _create_locale(LC_TIME, narrow);
}

class CTimeLocale {
public:
    explicit CTimeLocale(int32_t language)
    {
        if (language != -1 && IsLanguageSupported(language))
            locale = CreateTimeLocale(GetLanguageLocaleName(language));
    }
    ~CTimeLocale()
    {
        if (locale)
            _free_locale(locale);
    }
    CTimeLocale(const CTimeLocale&) = delete;
    CTimeLocale& operator=(const CTimeLocale&) = delete;

    size_t Format(wchar_t* buffer, size_t capacity, const wchar_t* format, const tm& fields) const
    {
        return locale ? _wcsftime_l(buffer, capacity, format, &fields, locale)
                      : wcsftime(buffer, capacity, format, &fields);
    }

private:
    _locale_t locale = nullptr; // null: the runtime's current locale
};

} // namespace TimeInternal

using namespace TimeInternal;

int64_t FileTimeToValue(const FILETIME& time)
{
    const int64_t value = static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    Check(value >= 0, CheckSite::TimeBeforeEpoch);
    return value;
}

FILETIME ValueToFileTime(int64_t value)
{
    return FILETIME{static_cast<DWORD>(static_cast<uint64_t>(value)),
                    static_cast<DWORD>(static_cast<uint64_t>(value) >> 32)};
}

int64_t LocalSystemTimeToFileTime(const SYSTEMTIME& localTime)
{
    // A calendar time that does not exist is reported as such before any zone is applied, and
    // once: the conversions below could only fail again.
    FILETIME local{};
    if (!CheckLastError(SystemTimeToFileTime(&localTime, &local), CheckSite::TimeCalendarToFileTime))
        return 0;
    // The time-zone rules in force on that date, not today's bias: the same local time must
    // give the same instant whether the library was loaded in summer or in winter.
    SYSTEMTIME utcTime{};
    CheckLastError(TzSpecificLocalTimeToSystemTime(nullptr, &localTime, &utcTime), CheckSite::TimeLocalToUtc);
    FILETIME utc{};
    CheckLastError(SystemTimeToFileTime(&utcTime, &utc), CheckSite::TimeCalendarToFileTime);
    return FileTimeToValue(utc);
}

CUnicodeString FormatTime(const wchar_t* format, int64_t fileTime, int32_t language)
{
    Check(format != nullptr, CheckSite::TimeFormatNull);
    if (!format || !*format)
        return CUnicodeString();

    const FILETIME time = ValueToFileTime(fileTime);
    SYSTEMTIME calendar{};
    CheckLastError(FileTimeToSystemTime(&time, &calendar), CheckSite::FileTimeNotConvertible);

    tm fields{};
    fields.tm_sec = calendar.wSecond;
    fields.tm_min = calendar.wMinute;
    fields.tm_hour = calendar.wHour;
    fields.tm_mday = calendar.wDay;
    fields.tm_mon = calendar.wMonth - 1;
    fields.tm_year = calendar.wYear - 1900;
    fields.tm_wday = calendar.wDayOfWeek;
    fields.tm_yday = 0;
    fields.tm_isdst = -1;

    const int32_t formatLength = static_cast<int32_t>(wcslen(format));
    CUnicodeString expanded;
    const bool withMilliseconds = ExpandMilliseconds(format, formatLength, calendar.wMilliseconds, expanded);
    const wchar_t* pattern = withMilliseconds ? expanded.GetText() : format;
    int32_t capacity = (withMilliseconds ? expanded.GetLength() : formatLength) + 12;
    if (capacity < 48)
        capacity = 48;

    const CTimeLocale locale(language);
    CUnicodeString result;
    for (;;) {
        wchar_t* buffer = result.GetBuffer(capacity);
        errno = 0;
        const size_t count = locale.Format(buffer, static_cast<size_t>(capacity), pattern, fields);
        const int error = errno;
        // msvcrt under Wine returns the capacity with truncated text instead of 0 and ERANGE
        // when the buffer is too small, so a count that fills the buffer is never accepted.
        const bool tooSmall = count >= static_cast<size_t>(capacity) || (count == 0 && error == ERANGE);
        if (!tooSmall) {
            result.ReleaseBuffer(static_cast<int32_t>(count));
            // 0 without an error number is a pattern whose output is empty (such as "%p" in a
            // locale without day-period names); any other error number is a bad pattern.
            Check(count > 0 || error == 0, CheckSite::TimeFormatFailed);
            return result;
        }
        result.ReleaseBuffer(0);
        Check(capacity < (1 << 24), CheckSite::TimeFormatFailed);
        if (capacity >= (1 << 24))
            return CUnicodeString();
        capacity += capacity / 4;
    }
}

} // namespace Zelkor
