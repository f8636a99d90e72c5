// Time conversion and formatting.
#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "ResourceInfo.h"
#include "TestSupport.h"
#include "Time.h"

using namespace Zelkor;

namespace {

int64_t UtcFileTime(WORD year, WORD month, WORD day, WORD hour = 0, WORD minute = 0, WORD second = 0, WORD milliseconds = 0)
{
    SYSTEMTIME calendar{year, month, 0, day, hour, minute, second, milliseconds};
    FILETIME time;
    EXPECT_TRUE(SystemTimeToFileTime(&calendar, &time));
    return FileTimeToValue(time);
}

} // namespace

TEST(Time, FormatsPatternsInTheLanguageOrElseTheCurrentLocale)
{
    const int64_t at = UtcFileTime(2027, 8, 26, 22, 0, 0, 7);
    std::wstring longFormat, longText; // 200 characters from a first capacity of 112: several increases
    for (int i = 0; i < 50; ++i)
        longFormat += L"%Y", longText += L"2027";
    // The last two: 47 characters fit the first capacity of 48 with the terminator; 48 do not.
    // clang-format off
    const std::pair<std::wstring, std::wstring> rows[] = {
        {L"a%Lb%Lc", L"a007b007c"}, {L"%%L", L"%L"}, {L"%%%L", L"%007"}, {L"", L""}, {longFormat, longText},
        {L"%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Yabc", L"20272027202720272027202720272027202720272027abc"},
        {L"%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y", L"202720272027202720272027202720272027202720272027"},
    };
    // clang-format on
    for (const auto& row : rows) // a pattern that raised an error fails the whole test
        EXPECT_EQ(std::wstring(FormatTime(row.first.c_str(), at).GetText()), row.second) << "format " << testing::PrintToString(row.first);
    // The calendar fields are those of the file time itself, whatever the time zone, from its
    // first moment on.
    EXPECT_STREQ(FormatTime(L"%Y", UtcFileTime(1601, 1, 1)).GetText(), L"1601");
    EXPECT_STREQ(FormatTime(L"%Y-%m-%d %H:%M:%S %a", UtcFileTime(2000, 2, 29, 23, 59, 59, 999)).GetText(), L"2000-02-29 23:59:59 Tue");
    const CUnicodeString current = FormatTime(L"%A %d %B %Y", at, -1);
    EXPECT_STREQ(current.GetText(), L"Thursday 26 August 2027");
    // An empty slot, like a language the system lacks, falls back to the current locale.
    EXPECT_STREQ(FormatTime(L"%A %d %B %Y", at, 12).GetText(), current.GetText());
    EXPECT_STREQ(FormatTime(L"%A %d %B %Y", at, 2).GetText(), IsLanguageSupported(2) ? L"Donnerstag 26 August 2027" : current.GetText());
}

TEST(Time, ReportsContractViolationsAndPlatformFailures)
{
    EXPECT_TRUE(ReportsAt(CheckSite::TimeFormatNull, [] { FormatTime(nullptr, 0); }));
    EXPECT_TRUE(ReportsAt(CheckSite::FileTimeNotConvertible, [] { FormatTime(L"%Y", -1); }));
    // A pattern the runtime refuses (a lone percent sign at the end) is not a short buffer.
    EXPECT_TRUE(ReportsAt(CheckSite::TimeFormatFailed, [] { FormatTime(L"L%", 0); }));
    const auto thirteenth = [] { EXPECT_EQ(LocalSystemTimeToFileTime(SYSTEMTIME{2027, 13, 0, 1, 0, 0, 0, 0}), 0); };
    EXPECT_TRUE(ReportsAt(CheckSite::TimeCalendarToFileTime, thirteenth));
    EXPECT_EQ(ShownWhenSuppressed(thirteenth), 1u) << "reported once, shown instead of raised";
    // A pattern whose output is empty (the daylight name of a zone without one) is no failure,
    // whatever error number the thread held before.
    _putenv("TZ=ABC0"), _tzset(), errno = EINVAL;
    EXPECT_STREQ(FormatTime(L"%Z", 0).GetText(), L"");
    _putenv("TZ="), _tzset(); // the system's zone again
}
