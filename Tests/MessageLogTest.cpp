// The message log, written by MessageLogHost processes, each copied into a folder of this test
// so that the log beside it is the test's own.
#include <filesystem>
#include <regex>
#include <utility>

#include "TestSupport.h"

namespace {

class MessageLog : public testing::Test {
protected:
    void SetUp() override
    {
        const char* name = testing::UnitTest::GetInstance()->current_test_info()->name();
        folder = std::filesystem::temp_directory_path() / ("MessageLog-" + std::to_string(GetCurrentProcessId()) + "-" + name);
        std::filesystem::create_directory(folder);
        std::filesystem::copy_file(ProgramFolder() + L"MessageLogHost.exe", folder / "MessageLogHost.exe");
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    // Starts a host that shows text count times with the setting given (null: absent); gives its
    // process id and exit code, the number of displays.
    std::pair<DWORD, DWORD> Run(const wchar_t* setting, int count, const std::wstring& text)
    {
        std::wstring command =
            L"MessageLogHost.exe \"" + std::wstring(setting ? setting : L"-") + L"\" " + std::to_wstring(count) + L" \"" + text + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        EXPECT_TRUE(CreateProcessW((folder / "MessageLogHost.exe").c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                   &startup, &process));
        DWORD code = 0;
        WaitForSingleObject(process.hProcess, 60000), GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hProcess), CloseHandle(process.hThread);
        return {process.dwProcessId, code};
    }
    std::string Log() const { return Get((folder / "ZelkorLog.txt").c_str()); } // "none" when there is no file

    std::filesystem::path folder;
};

std::string LocalTime() // "HH:MM:SS"
{
    char text[16] = {};
    GetTimeFormatA(LOCALE_INVARIANT, TIME_FORCE24HOURFORMAT, nullptr, "HH:mm:ss", text, sizeof text);
    return text;
}

} // namespace

// What the setting's texts mean is ParseBool's table; here only that the log obeys it.
TEST_F(MessageLog, RecordsOnlyWhileTheSettingIsOn)
{
    for (const wchar_t* off : {static_cast<const wchar_t*>(nullptr), L"0"}) { // absent, or false
        EXPECT_EQ(Run(off, 1, L"unlogged").second, 1u);
        EXPECT_EQ(Log(), "none");
    }
    const std::string before = LocalTime();
    const auto run = Run(L" on ", 2, L"caf\u00e9\nzwei");
    const std::string after = LocalTime(), written = Log();
    EXPECT_EQ(run.second, 2u);
    // Two records: local time, the process, the text in the ANSI code page with its bare line
    // feed, CR LF.
    char ansi[16] = {};
    WideCharToMultiByte(CP_ACP, 0, L"caf\u00e9\nzwei", -1, ansi, sizeof ansi, nullptr, nullptr);
    const std::string record = "([0-2][0-9]:[0-5][0-9]:[0-5][0-9]) ProcessID:" + std::to_string(run.first) + " " + ansi + "\r\n";
    std::smatch times;
    EXPECT_TRUE(std::regex_match(written, times, std::regex(record + record))) << testing::PrintToString(written);
    for (size_t i = 1; i < times.size() && before <= after; ++i) // no midnight in between
        EXPECT_TRUE(before <= times[i].str() && times[i].str() <= after) << before << " " << times[i] << " " << after;
}

// Windows refuses to write a read-only log; Wine lets root write it, so a log held open without
// write sharing stands for it: after its bounded wait the writer gives the line up.
TEST_F(MessageLog, UnwritableLogLosesTheLineButNotTheDisplay)
{
    const HANDLE holder = CreateFileW((folder / "ZelkorLog.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(Run(L"yes", 1, L"lost").second, 1u);
    EXPECT_GE(GetTickCount64() - start, 2000u) << "the writer gave up without waiting";
    CloseHandle(holder);
    EXPECT_EQ(Log(), "");
}
