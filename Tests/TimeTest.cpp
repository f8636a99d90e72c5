// Time conversion and formatting.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "Errors.h"
#include "ResourceInfo.h"
#include "Time.h"

using namespace Zelkor;

namespace {

int64_t UtcFileTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second, WORD milliseconds)
{
    SYSTEMTIME calendar{};
    calendar.wYear = year;
    calendar.wMonth = month;
    calendar.wDay = day;
    calendar.wHour = hour;
    calendar.wMinute = minute;
    calendar.wSecond = second;
    calendar.wMilliseconds = milliseconds;
    FILETIME time;
    EXPECT_TRUE(SystemTimeToFileTime(&calendar, &time));
    return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

// Runs f and returns the internal error it raised, or {null, 0} when none.
template <class F>
std::pair<std::wstring, int32_t> InternalErrorOf(F f)
{
    try {
        f();
    } catch (CException* e) {
        auto* error = dynamic_cast<CInternalError*>(e);
        std::pair<std::wstring, int32_t> result{error ? error->GetSourceFile() : L"(other exception)",
                                                error ? error->GetLine() : -1};
        delete e;
        return result;
    }
    return {L"", 0};
}

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

} // namespace

TEST(Time, FormatsPatterns)
{
    const int64_t at = UtcFileTime(2027, 8, 26, 22, 0, 0, 7);
    const std::wstring years12(L"%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y");
    std::wstring longFormat, longText;
    for (int i = 0; i < 6; ++i) {
        longFormat += L"%Y-%m-%d %H:%M:%S ";
        longText += L"2027-08-26 22:00:00 ";
    }
    for (int i = 0; i < 20; ++i) {
        longFormat += L"%Y";
        longText += L"2027";
    }
    struct Row {
        const wchar_t* format;
        std::wstring expected;
    } rows[] = {
        {L"%Y-%m-%dT%H:%M:%S", L"2027-08-26T22:00:00"},
        {L"%L", L"007"},
        {L"%H:%M:%S.%L", L"22:00:00.007"},
        {L"a%Lb%Lc", L"a007b007c"},
        {L"%%L", L"%L"},           // a literal percent sign followed by L
        {L"%%%L", L"%007"},        // literal percent, then the conversion
        {L"", L""},
        {L"x", L"x"},
        // 47 characters fit the first capacity of 48 with the terminator; 48 do not.
        {L"%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Yabc", std::wstring(L"20272027202720272027202720272027202720272027abc")},
        {years12.c_str(), std::wstring(L"202720272027202720272027202720272027202720272027")},
        // Several quarter-size increases: 200 characters from a first capacity of 150.
        {longFormat.c_str(), longText},
    };
    for (const Row& row : rows) {
        std::wstring text;
        const auto error = InternalErrorOf([&] {
            const CUnicodeString formatted = FormatTime(row.format, at);
            text.assign(formatted.GetText(), formatted.GetLength());
        });
        EXPECT_EQ(error.second, 0) << "format " << Narrow(row.format) << " raised " << Narrow(error.first);
        EXPECT_EQ(text, row.expected) << "format " << Narrow(row.format);
    }
}

TEST(Time, UsesTheFieldsOfTheInstantWithoutTimeZoneShift)
{
    // The calendar fields are those of the file time itself, whatever TZ the test runs in.
    const CUnicodeString text = FormatTime(L"%Y-%m-%d %H:%M:%S %a", UtcFileTime(2000, 2, 29, 23, 59, 59, 999));
    EXPECT_STREQ(text.GetText(), L"2000-02-29 23:59:59 Tue");
}

TEST(Time, LanguageWithoutALocaleFormatsInTheCurrentLocale)
{
    const int64_t at = UtcFileTime(2027, 8, 26, 0, 0, 0, 0);
    const CUnicodeString current = FormatTime(L"%A %d %B %Y", at, -1);
    EXPECT_STREQ(current.GetText(), L"Thursday 26 August 2027");
    for (int32_t language : {12, 30, 35, 43}) { // empty slots and locales Wine lacks
        if (IsLanguageSupported(language))
            continue;
        EXPECT_STREQ(FormatTime(L"%A %d %B %Y", at, language).GetText(), current.GetText()) << "language " << language;
    }
}

TEST(Time, FormatsInAnInterfaceLanguage)
{
    if (!IsLanguageSupported(2))
        GTEST_SKIP() << "the system has no German locale";
    const CUnicodeString text = FormatTime(L"%A %d %B %Y", UtcFileTime(2027, 8, 26, 0, 0, 0, 0), 2);
    EXPECT_STREQ(text.GetText(), L"Donnerstag 26 August 2027");
}

TEST(Time, ReportsContractViolationsAndPlatformFailures)
{
    EXPECT_EQ(InternalErrorOf([] { FormatTime(nullptr, 0); }), std::make_pair(std::wstring(L"Src/Time"), 496));
    EXPECT_EQ(InternalErrorOf([] { FormatTime(L"%Y", -1); }), std::make_pair(std::wstring(L"Src/Time"), 504));
    // A pattern the runtime refuses (a lone percent sign at the end) is not a short buffer.
    EXPECT_EQ(InternalErrorOf([] { FormatTime(L"L%", 0); }), std::make_pair(std::wstring(L"Src/Time"), 574));
    EXPECT_EQ(InternalErrorOf([] {
                  SYSTEMTIME bad{};
                  bad.wYear = 2027;
                  bad.wMonth = 13;
                  bad.wDay = 1;
                  LocalSystemTimeToFileTime(bad);
              }),
              std::make_pair(std::wstring(L"Src/Time"), 255));
}

TEST(Time, LocalTimeConvertsWithTheCurrentBias)
{
    SYSTEMTIME local{};
    local.wYear = 2027;
    local.wMonth = 8;
    local.wDay = 27;
    const int64_t utc = LocalSystemTimeToFileTime(local);
    TIME_ZONE_INFORMATION zone;
    const DWORD mode = GetTimeZoneInformation(&zone);
    LONG bias = zone.Bias;
    if (mode == TIME_ZONE_ID_DAYLIGHT)
        bias += zone.DaylightBias;
    else if (mode == TIME_ZONE_ID_STANDARD)
        bias += zone.StandardBias;
    // UTC = local + bias minutes.
    EXPECT_EQ(utc, UtcFileTime(2027, 8, 27, 0, 0, 0, 0) + static_cast<int64_t>(bias) * 60 * 10000000);
}
