// The message log, written by MessageLogHost processes, each copied into a folder of this test
// so that the log beside it is the test's own; the machine setting lives in a key of the test.
#include <windows.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace {

class MessageLog : public testing::Test {
protected:
    void SetUp() override
    {
        const auto* test = testing::UnitTest::GetInstance()->current_test_info();
        const std::wstring id = std::to_wstring(GetCurrentProcessId()) + L"-" +
                                std::wstring(test->name(), test->name() + strlen(test->name()));
        wchar_t temp[MAX_PATH + 1], self[MAX_PATH + 1];
        GetTempPathW(MAX_PATH + 1, temp);
        folder = temp + L"MessageLog-"s + id + L"\\";
        ::CreateDirectoryW(folder.c_str(), nullptr);
        std::wstring selfPath(self, GetModuleFileNameW(nullptr, self, MAX_PATH + 1));
        host = folder + L"MessageLogHost.exe";
        ASSERT_TRUE(::CopyFileW((selfPath.substr(0, selfPath.rfind(L'\\') + 1) + L"MessageLogHost.exe").c_str(),
                              host.c_str(), FALSE));
        log = folder + L"ZelkorLog.txt";
        machineKey = L"Software\\ZelkorTests\\MessageLog-" + id;
        RegCreateKeyExW(HKEY_CURRENT_USER, (machineKey + L"\\Software\\Quorell\\Zelkor").c_str(), 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &settings, nullptr);
    }
    void TearDown() override
    {
        RegCloseKey(settings);
        RegDeleteTreeW(HKEY_CURRENT_USER, machineKey.c_str());
        ::DeleteFileW(host.c_str());
        ::DeleteFileW(log.c_str());
        EXPECT_TRUE(::RemoveDirectoryW(folder.c_str()));
    }
    void SetSetting(const wchar_t* value)
    {
        RegDeleteValueW(settings, L"WriteMessageLog");
        if (value != nullptr)
            RegSetValueExW(settings, L"WriteMessageLog", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                           DWORD((wcslen(value) + 1) * sizeof(wchar_t)));
    }
    // Starts one host per entry of processes, all at once; each shows text count times.
    struct CRun {
        DWORD pid;
        DWORD exitCode;
    };
    std::vector<CRun> Run(int processes, int count, const std::wstring& text)
    {
        std::vector<PROCESS_INFORMATION> started(processes);
        for (auto& p : started) {
            std::wstring command = L"\"" + host + L"\" " + machineKey + L" " + std::to_wstring(count) + L" \"" + text + L"\"";
            STARTUPINFOW startup{};
            startup.cb = sizeof(startup);
            EXPECT_TRUE(CreateProcessW(host.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                       &startup, &p));
        }
        std::vector<CRun> runs;
        for (auto& p : started) {
            WaitForSingleObject(p.hProcess, 60000);
            DWORD code = 0;
            GetExitCodeProcess(p.hProcess, &code);
            runs.push_back({p.dwProcessId, code});
            CloseHandle(p.hProcess);
            CloseHandle(p.hThread);
        }
        return runs;
    }
    // The log's bytes; "(none)" when there is no file.
    std::string Log() const
    {
        const HANDLE file = CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return "(none)";
        std::string bytes(1 << 20, '\0');
        DWORD read = 0;
        ReadFile(file, bytes.data(), DWORD(bytes.size()), &read, nullptr);
        CloseHandle(file);
        return bytes.substr(0, read);
    }

    std::wstring folder, host, log, machineKey;
    HKEY settings = nullptr;
};

// "HH:MM:SS" of now.
std::string LocalTime()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[16];
    snprintf(text, sizeof text, "%02u:%02u:%02u", now.wHour, now.wMinute, now.wSecond);
    return text;
}

std::string Ansi(const std::wstring& text)
{
    std::string bytes(text.size() * 2, '\0');
    bytes.resize(size_t(WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), bytes.data(), int(bytes.size()),
                                            nullptr, nullptr)));
    return bytes;
}

} // namespace

TEST_F(MessageLog, RecordsOnlyWhileTheSettingIsOn)
{
    const std::wstring text = L"caf\u00e9\nzwei";
    const struct {
        const wchar_t* setting; // null: absent
        bool logs;
    } rows[] = {{nullptr, false}, {L"2", false}, {L"", false}, {L"maybe", false}, {L"0", false},
                {L"Yes", true},   {L" on ", true}, {L"1", true}};
    for (const auto& row : rows) {
        const std::string name = row.setting ? testing::PrintToString(std::wstring(row.setting)) : "absent";
        SetSetting(row.setting);
        const std::string before = LocalTime();
        const CRun run = Run(1, 2, text)[0];
        const std::string after = LocalTime();
        EXPECT_EQ(run.exitCode, 2u) << name; // shown in any case
        if (!row.logs) {
            EXPECT_EQ(Log(), "(none)") << name;
            continue;
        }
        // Two records: local time, the process, the text in the ANSI code page with its bare
        // line feed, CR LF.
        const std::string record = "([0-2][0-9]:[0-5][0-9]:[0-5][0-9]) ProcessID:" + std::to_string(run.pid) + " " +
                                   Ansi(text) + "\r\n";
        const std::string written = Log();
        std::smatch times;
        EXPECT_TRUE(std::regex_match(written, times, std::regex(record + record)))
            << name << " " << testing::PrintToString(written);
        for (size_t i = 1; i < times.size() && before <= after; ++i) // no midnight in between
            EXPECT_TRUE(before <= times[i].str() && times[i].str() <= after) << before << " " << times[i] << " " << after;
        ::DeleteFileW(log.c_str());
    }
}

// Windows refuses to write a read-only log; Wine lets root write it, so a log held open without
// write sharing stands for it: after its bounded wait the writer gives the line up.
TEST_F(MessageLog, UnwritableLogLosesTheLineButNotTheDisplay)
{
    SetSetting(L"yes");
    const HANDLE holder = CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Run(1, 1, L"lost")[0].exitCode, 1u);
    CloseHandle(holder);
    EXPECT_EQ(Log(), "");
}

TEST_F(MessageLog, TwoProcessesAtOnceLoseNoLine)
{
    SetSetting(L"true");
    const std::vector<CRun> runs = Run(2, 100, L"line");
    const std::string log = Log();
    for (const CRun& run : runs) {
        EXPECT_EQ(run.exitCode, 100u);
        const std::regex own("ProcessID:" + std::to_string(run.pid) + " line\r\n");
        EXPECT_EQ(std::distance(std::sregex_iterator(log.begin(), log.end(), own), std::sregex_iterator()), 100);
    }
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 200);
}
