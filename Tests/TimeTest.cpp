// Time conversion and formatting.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "Errors.h"
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
    return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

// The source file and line of the internal error f raised, or {"", 0} when none.
template <class F>
std::pair<std::wstring, int32_t> InternalErrorOf(F f)
{
    try {
        f();
    } catch (CException* e) {
        auto* error = dynamic_cast<CInternalError*>(e);
        std::pair<std::wstring, int32_t> result{error ? error->GetSourceFile() : L"(other exception)", error ? error->GetLine() : -1};
        delete e;
        return result;
    }
    return {L"", 0};
}

} // namespace

TEST(Time, FormatsPatterns)
{
    const int64_t at = UtcFileTime(2027, 8, 26, 22, 0, 0, 7);
    std::wstring longFormat, longText; // 200 characters from a first capacity of 150: several increases
    for (int i = 0; i < 6; ++i)
        longFormat += L"%Y-%m-%d %H:%M:%S ", longText += L"2027-08-26 22:00:00 ";
    for (int i = 0; i < 20; ++i)
        longFormat += L"%Y", longText += L"2027";
    struct Row {
        std::wstring format, expected;
        int64_t at;
    } rows[] = {
        {L"%Y-%m-%dT%H:%M:%S", L"2027-08-26T22:00:00", at}, {L"%H:%M:%S.%L", L"22:00:00.007", at},
        {L"a%Lb%Lc", L"a007b007c", at}, {L"%%L", L"%L", at}, {L"%%%L", L"%007", at}, {L"", L"", at}, {L"x", L"x", at},
        // 47 characters fit the first capacity of 48 with the terminator; 48 do not.
        {L"%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Yabc", L"20272027202720272027202720272027202720272027abc", at},
        {L"%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y", L"202720272027202720272027202720272027202720272027", at}, {longFormat, longText, at},
        // The calendar fields are those of the file time itself, whatever the time zone.
        {L"%Y-%m-%d %H:%M:%S %a", L"2000-02-29 23:59:59 Tue", UtcFileTime(2000, 2, 29, 23, 59, 59, 999)},
    };
    for (const Row& row : rows) {
        std::wstring text;
        const auto error = InternalErrorOf([&] {
            const CUnicodeString formatted = FormatTime(row.format.c_str(), row.at);
            text.assign(formatted.GetText(), formatted.GetLength());
        });
        EXPECT_EQ(error.second, 0) << "format " << testing::PrintToString(row.format) << " raised " << testing::PrintToString(error.first);
        EXPECT_EQ(text, row.expected) << "format " << testing::PrintToString(row.format);
    }
}

TEST(Time, FormatsInTheLanguageOrElseTheCurrentLocale)
{
    const int64_t at = UtcFileTime(2027, 8, 26);
    const CUnicodeString current = FormatTime(L"%A %d %B %Y", at, -1);
    EXPECT_STREQ(current.GetText(), L"Thursday 26 August 2027");
    for (int32_t language : {12, 30, 35, 43}) // empty slots and locales Wine lacks
        if (!IsLanguageSupported(language)) {
            EXPECT_STREQ(FormatTime(L"%A %d %B %Y", at, language).GetText(), current.GetText()) << "language " << language;
        }
    if (IsLanguageSupported(2)) { // else the system has no German locale
        EXPECT_STREQ(FormatTime(L"%A %d %B %Y", at, 2).GetText(), L"Donnerstag 26 August 2027");
    }
}

TEST(Time, ReportsContractViolationsAndPlatformFailures)
{
    const SYSTEMTIME month13{2027, 13, 0, 1, 0, 0, 0, 0};
    EXPECT_TRUE(ReportsAt(CheckSite::TimeFormatNull, [] { FormatTime(nullptr, 0); }));
    EXPECT_TRUE(ReportsAt(CheckSite::FileTimeNotConvertible, [] { FormatTime(L"%Y", -1); }));
    // A pattern the runtime refuses (a lone percent sign at the end) is not a short buffer.
    EXPECT_TRUE(ReportsAt(CheckSite::TimeFormatFailed, [] { FormatTime(L"L%", 0); }));
    EXPECT_TRUE(ReportsAt(CheckSite::TimeCalendarToFileTime, [&] { LocalSystemTimeToFileTime(month13); }));
}

TEST(Time, LocalTimeConvertsWithTheRulesOfItsDate)
{
    // Summer and winter dates: each must use its own offset, whatever the season today.
    for (const SYSTEMTIME local : {SYSTEMTIME{2027, 8, 0, 27, 0, 0, 0, 0}, SYSTEMTIME{2027, 1, 0, 15, 12, 0, 0, 0}}) {
        SYSTEMTIME utc{};
        ASSERT_TRUE(TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc));
        FILETIME expected{};
        ASSERT_TRUE(SystemTimeToFileTime(&utc, &expected));
        EXPECT_EQ(LocalSystemTimeToFileTime(local), static_cast<int64_t>(uint64_t(expected.dwHighDateTime) << 32 | expected.dwLowDateTime));
    }
    // Outside UTC the two dates straddle a change of offset, which a current-bias conversion misses.
    TIME_ZONE_INFORMATION zone;
    if (GetTimeZoneInformation(&zone) != TIME_ZONE_ID_UNKNOWN && zone.Bias == -60)
        EXPECT_EQ(LocalSystemTimeToFileTime(SYSTEMTIME{2027, 8, 0, 27, 0, 0, 0, 0}), UtcFileTime(2027, 8, 26, 22));
}
