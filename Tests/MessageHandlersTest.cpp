// Message display. No test shows a real box: the platform calls are replaced, or the text is
// caught by a handler of the thread's own.
#include <windows.h>

#include <atomic>
#include <cwchar>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Errors.h"
#include "MessageHandlers.h"
#include "TestSupport.h"
#include "ThreadData.h"

using namespace Zelkor;
using namespace Zelkor::MessageHandlersInternal;

namespace {

// One display as "owner caption|text flags", one event as "type id caption|text".
std::wstring Display(HWND owner, const wchar_t* caption, const wchar_t* text, uint32_t flags)
{
    wchar_t head[64];
    swprintf(head, 64, L"%p ", static_cast<void*>(owner));
    return head + std::wstring(caption) + L"|" + text + L" " + std::to_wstring(flags);
}

// What the replaced platform calls saw.
struct CSeen {
    std::vector<std::wstring> boxes, events;
    std::vector<DWORD> consolePieces;
    std::wstring consoleText, registeredName;
    int registrations = 0, deregistrations = 0;
    HANDLE sourceToGive = reinterpret_cast<HANDLE>(0x5eed);
};
CSeen Seen;

// Every test runs with fake platform calls and restores the real ones.
class MessageDisplay : public testing::Test {
protected:
    void SetUp() override
    {
        Seen = CSeen();
        CPlatformCalls fakes;
        fakes.ShowBox = [](HWND owner, LPCWSTR text, LPCWSTR caption, UINT flags) {
            Seen.boxes.push_back(Display(owner, caption, text, flags));
            return IDRETRY;
        };
        fakes.ShowBoxIndirect = [](const MSGBOXPARAMSW* b) {
            Seen.boxes.push_back(Display(b->hwndOwner, b->lpszCaption, b->lpszText, b->dwStyle));
            return IDRETRY;
        };
        fakes.WriteToConsole = [](HANDLE, const VOID* text, DWORD count, LPDWORD written, LPVOID) {
            Seen.consolePieces.push_back(count);
            Seen.consoleText.append(static_cast<const wchar_t*>(text), *written = count);
            return TRUE;
        };
        fakes.RegisterSource = [](LPCWSTR server, LPCWSTR name) {
            EXPECT_EQ(server, nullptr);
            ++Seen.registrations;
            Seen.registeredName = name;
            return Seen.sourceToGive;
        };
        fakes.Report = [](HANDLE source, WORD type, WORD category, DWORD id, PSID user, WORD count, DWORD dataSize,
                          LPCWSTR* strings, LPVOID data) {
            EXPECT_TRUE(source == Seen.sourceToGive && category == 0 && !user && dataSize == 0 && !data && count == 2);
            Seen.events.push_back(std::to_wstring(type) + L" " + std::to_wstring(id) + L" " + strings[0] + L"|" + strings[1]);
            return TRUE;
        };
        fakes.Deregister = [](HANDLE source) {
            EXPECT_EQ(source, Seen.sourceToGive);
            ++Seen.deregistrations;
            return TRUE;
        };
        previous = SetPlatformCallsForTest(fakes);
    }
    void TearDown() override
    {
        ThreadLogData.Get().Handler = nullptr;
        SetPlatformCallsForTest(previous);
    }
    CPlatformCalls previous;
};

// A temporary file opened for reading and writing with the given first bytes, standing at its
// end as a redirected, appending standard output does.
class CTempFile {
public:
    explicit CTempFile(const std::string& content = std::string(), bool inheritable = false)
    {
        wchar_t directory[MAX_PATH + 1], file[MAX_PATH + 1];
        GetTempPathW(MAX_PATH + 1, directory);
        GetTempFileNameW(directory, L"zmh", 0, file);
        name = file;
        SECURITY_ATTRIBUTES security = {sizeof(security), nullptr, inheritable};
        handle = CreateFileW(file, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &security,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        WriteFile(handle, content.data(), DWORD(content.size()), &written, nullptr);
    }
    ~CTempFile() { CloseHandle(handle), DeleteFileW(name.c_str()); }
    std::string Read() const
    {
        SetFilePointerEx(handle, LARGE_INTEGER(), nullptr, FILE_BEGIN);
        std::string content(1 << 16, '\0');
        DWORD read = 0;
        ReadFile(handle, &content[0], DWORD(content.size()), &read, nullptr);
        SetFilePointerEx(handle, LARGE_INTEGER(), nullptr, FILE_END);
        return content.substr(0, read);
    }
    HANDLE handle;
    std::wstring name;
};

// Catches what would be shown on this thread.
class CCapturingHandler : public CMessageHandler {
public:
    int32_t Show(HWND window, const wchar_t* text, const wchar_t* caption, uint32_t flags) override
    {
        shown.push_back(Display(window, caption, text, flags));
        return IDNO;
    }
    std::vector<std::wstring> shown;
};

// HKEY_LOCAL_MACHINE redirected to a key of this test, so registration writes stay here.
class CMachineKeySandbox {
public:
    CMachineKeySandbox()
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, Path);
        RegCreateKeyExW(HKEY_CURRENT_USER, Path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, key);
    }
    ~CMachineKeySandbox() { RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr), RegCloseKey(key), RegDeleteTreeW(HKEY_CURRENT_USER, Path); }
    static constexpr const wchar_t* Path = L"Software\\ZelkorTests\\MessageHandlersMachine";
    HKEY key = nullptr;
};

constexpr const wchar_t* EventSourceKey = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Zelkor";

std::wstring BesideThisProgram(const std::wstring& file)
{
    wchar_t self[MAX_PATH + 1];
    const std::wstring path(self, GetModuleFileNameW(nullptr, self, MAX_PATH + 1));
    return path.substr(0, path.find_last_of(L'\\') + 1) + file;
}

std::wstring EventMessageFile(HKEY root)
{
    wchar_t value[MAX_PATH * 2] = {};
    DWORD size = sizeof(value);
    const LSTATUS status = RegGetValueW(root, EventSourceKey, L"EventMessageFile", RRF_RT_REG_SZ, nullptr, value, &size);
    return status ? L"(missing)" : std::wstring(value, size / 2 - 1); // the stored size counts the terminator
}

} // namespace

// ---- Answers of the handlers that cannot ask --------------------------------------------

TEST_F(MessageDisplay, AnswerAndEventTypeForEveryButtonSetAndIcon)
{
    const WORD error = EVENTLOG_ERROR_TYPE, warning = EVENTLOG_WARNING_TYPE, information = EVENTLOG_INFORMATION_TYPE;
    const struct { uint32_t flags; int32_t answer; WORD eventType; } rows[] = {
        {MB_OK | MB_DEFBUTTON3, IDOK, information}, {MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL, warning},
        {MB_OKCANCEL | MB_DEFBUTTON3, IDOK, warning}, {MB_YESNO, IDYES, information},
        {MB_YESNOCANCEL | MB_DEFBUTTON2, IDNO, information}, {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL, information},
        {MB_RETRYCANCEL, IDRETRY, error}, {MB_ABORTRETRYIGNORE | MB_DEFBUTTON3, IDIGNORE, error},
        {MB_ABORTRETRYIGNORE | MB_DEFBUTTON4, IDABORT, error}, // 0x300 falls back to the first column
        {6 | MB_DEFBUTTON2, IDABORT, information}, {0xF, IDABORT, information},
        // An icon decides the event type, never the answer.
        {MB_YESNO | MB_ICONHAND | MB_SYSTEMMODAL | MB_DEFBUTTON2, IDNO, error},
        {MB_RETRYCANCEL | MB_ICONQUESTION, IDRETRY, information}, {MB_ICONASTERISK, IDOK, information},
        {MB_ICONEXCLAMATION, IDOK, warning}, {MB_OKCANCEL | MB_USERICON, IDOK, warning},
    };
    CMachineKeySandbox sandbox;
    CTempFile file;
    CConsoleMessageHandler console(file.handle, FILE_TYPE_DISK);
    {
        CEventLogMessageHandler eventLog;
        for (const auto& row : rows) {
            SCOPED_TRACE(testing::Message() << std::hex << row.flags);
            Seen.events.clear();
            EXPECT_EQ(GetMessageTableAnswer(row.flags), row.answer);
            EXPECT_EQ(console.Show(nullptr, L"q", L"c", row.flags), row.answer);
            EXPECT_EQ(eventLog.Show(nullptr, L"q", L"c", row.flags), row.answer);
            EXPECT_EQ(Seen.events, std::vector<std::wstring>{std::to_wstring(row.eventType) + L" 1 c|q"});
        }
        EXPECT_EQ(Seen.registrations, 1); // registered once, released with the handler
        EXPECT_EQ(Seen.registeredName, L"Zelkor");
        EXPECT_EQ(Seen.deregistrations, 0);
    }
    EXPECT_EQ(Seen.deregistrations, 1);
    EXPECT_EQ(EventMessageFile(sandbox.key), BesideThisProgram(L"ZelkorEventSrc.dll"));
}

// ---- Console ----------------------------------------------------------------------------

TEST_F(MessageDisplay, ConsoleLineBreaksAndEncoding)
{
    const std::string mark("\xFF\xFE", 2);
    auto utf16 = [](const std::wstring& text) { return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2); };
    // atStart: the handle stands at the start of the file rather than at its end.
    const struct { std::string before; bool atStart; const wchar_t* text; std::string after; } rows[] = {
        {"", false, L"", "\r\n"}, // an empty file gets ANSI
        {"", false, L"\r\n\n", "\r\n\r\n\r\n"},
        {"", false, L"a\r", "a\r\r\n"},
        {mark + utf16(L"x"), false, L"a\nb", mark + utf16(L"xa\r\nb\r\n")}, // a UTF-16 file stays UTF-16
        {"\xFF", false, L"a", "\xFF" "a\r\n"},          // half a mark
        {"\xFE\xFF", false, L"a", "\xFE\xFF" "a\r\n"},  // big-endian mark
        {mark, true, L"a\nb", "a\r\nb\r\n"},            // at the start: ANSI, written over the mark
    };
    for (const auto& row : rows) {
        CTempFile file(row.before);
        if (row.atStart)
            SetFilePointerEx(file.handle, LARGE_INTEGER(), nullptr, FILE_BEGIN);
        CConsoleMessageHandler console(file.handle, FILE_TYPE_DISK);
        console.Show(nullptr, row.text, L"c", MB_OK);
        EXPECT_EQ(file.Read(), row.after) << testing::PrintToString(row.before) << " "
                                          << testing::PrintToString(std::wstring(row.text));
    }
}

TEST_F(MessageDisplay, ConsoleTakesLongTextInPieces)
{
    // The length before the line break is added.
    const struct { int length; std::vector<DWORD> pieces; } rows[] = {
        {40000 - 2, {16384, 16384, 7232}}, {16384 - 2, {16384}}, {16384 - 1, {16384, 1}}};
    for (const auto& row : rows) {
        Seen = CSeen();
        CConsoleMessageHandler console(GetStdHandle(STD_OUTPUT_HANDLE), FILE_TYPE_CHAR);
        std::wstring text(row.length, L'x');
        for (int i = 0; i < row.length; i += 1000)
            text[i] = wchar_t(L'A' + i / 1000 % 26); // a lost or repeated piece shows
        console.Show(nullptr, text.c_str(), L"c", MB_OK);
        EXPECT_EQ(Seen.consolePieces, row.pieces) << row.length;
        EXPECT_EQ(Seen.consoleText, text + L"\r\n") << row.length;
    }
}

TEST_F(MessageDisplay, ContractViolationsAreInternalErrors)
{
    CTempFile file;
    CConsoleMessageHandler console(file.handle, FILE_TYPE_DISK);
    CMessageBoxHandler box;
    EXPECT_TRUE(ReportsAt(CheckSite::ConsoleNullText, [&] { console.Show(nullptr, nullptr, L"c", MB_OK); }));
    EXPECT_TRUE(ReportsAt(CheckSite::MessageIconModuleNotFound,
                          [&] { box.ShowWithIcon(nullptr, L"t", L"c", MB_OK, L"NO_SUCH_ICON_ANYWHERE"); }));
    EXPECT_TRUE(Seen.boxes.empty());
    console.Show(nullptr, L"ok", L"c", MB_OK); // the console lock was left
    EXPECT_EQ(file.Read(), "ok\r\n");
}

// ---- Message box ------------------------------------------------------------------------

TEST_F(MessageDisplay, MessageBoxIconAndStyle)
{
    const uint32_t front = MB_TASKMODAL | MB_SETFOREGROUND | MB_TOPMOST; // no owner to stay in front of
    const struct { uint32_t flags, shown; } rows[] = {
        {MB_OK, front | MB_ICONEXCLAMATION}, {MB_YESNO, front | MB_YESNO | MB_ICONEXCLAMATION},
        {MB_ABORTRETRYIGNORE, front | MB_ABORTRETRYIGNORE}, {MB_RETRYCANCEL, front | MB_RETRYCANCEL}, {6, front | 6},
        {MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2, front | MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2},
        {MB_ICONHAND | MB_SYSTEMMODAL, front | MB_ICONHAND | MB_SYSTEMMODAL},
    };
    CMessageBoxHandler box;
    for (const auto& row : rows) {
        Seen.boxes.clear();
        EXPECT_EQ(box.Show(nullptr, L"t", L"c", row.flags), IDRETRY);
        EXPECT_EQ(Seen.boxes, std::vector<std::wstring>{Display(nullptr, L"c", L"t", row.shown)}) << std::hex << row.flags;
    }
    Seen.boxes.clear();
    box.ShowWithIcon(nullptr, L"t", L"c", MB_OK, nullptr); // no icon name: the plain box
    EXPECT_EQ(Seen.boxes, std::vector<std::wstring>{Display(nullptr, L"c", L"t", front | MB_ICONEXCLAMATION)});
}

// ---- Event log --------------------------------------------------------------------------

TEST_F(MessageDisplay, EventLogRefusedSourceReportsNothingAndRetries)
{
    CMachineKeySandbox sandbox;
    Seen.sourceToGive = nullptr;
    {
        CEventLogMessageHandler eventLog;
        EXPECT_EQ(eventLog.Show(nullptr, L"t", L"c", MB_YESNO), IDYES);
        EXPECT_EQ(eventLog.Show(nullptr, L"t", L"c", MB_YESNO), IDYES);
    }
    EXPECT_EQ(Seen.registrations, 2);
    EXPECT_TRUE(Seen.events.empty());
    EXPECT_EQ(Seen.deregistrations, 0);
}

TEST_F(MessageDisplay, EventLogRecordsExceptionsButNotUserOnes)
{
    CMachineKeySandbox sandbox;
    CEventLogMessageHandler eventLog;
    CUserException user;
    eventLog.HandleException(&user);
    EXPECT_EQ(Seen.registrations, 0);
    CLastErrorException failure(ERROR_ACCESS_DENIED);
    eventLog.HandleException(&failure);
    EXPECT_EQ(Seen.events, std::vector<std::wstring>{L"1 1 Zelkor|" + std::wstring(failure.GetMessageText().GetText())});
    EXPECT_TRUE(Seen.boxes.empty()); // nothing shown
}

// ---- Display through the thread's handler and without handler ---------------------------

TEST_F(MessageDisplay, ThreadHandlerTakesDisplaysAndExceptions)
{
    CCapturingHandler capture;
    ThreadLogData.Get().Handler = &capture;
    EXPECT_EQ(GetMessageHandler(), &capture);
    EXPECT_EQ(ShowMessage(L"hello", MB_YESNO | MB_ICONQUESTION), IDNO);
    CLastErrorException failure(ERROR_FILE_NOT_FOUND);
    ProcessException(&failure); // reported by the exception itself, through the display
    ProcessException(nullptr);
    EXPECT_EQ(capture.shown, (std::vector<std::wstring>{Display(nullptr, L"Zelkor", L"hello", MB_YESNO | MB_ICONQUESTION),
                                                        Display(nullptr, L"Zelkor", failure.GetMessageText(), 0)}));
    CMessageHandler* other = nullptr;
    std::thread([&] { other = GetMessageHandler(); }).join();
    EXPECT_TRUE(other != nullptr && other != &capture);
}

TEST_F(MessageDisplay, DisplaysOfThreadsDoNotOverlap)
{
    class CSlowHandler : public CMessageHandler {
    public:
        int32_t Show(HWND, const wchar_t*, const wchar_t*, uint32_t) override
        {
            if (++inside > 1)
                overlapped = true;
            Sleep(20);
            --inside;
            return IDOK;
        }
        std::atomic<int> inside{0};
        std::atomic<bool> overlapped{false};
    } slow;
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            ThreadLogData.Get().Handler = &slow;
            ShowMessage(L"t", MB_OK);
            ThreadLogData.Get().Handler = nullptr;
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_FALSE(slow.overlapped);
}

TEST_F(MessageDisplay, WithoutHandlerWritesTheOutputAsIs)
{
    CTempFile file;
    HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, file.handle);
    EXPECT_EQ(ShowWithoutHandler(L"x\ny", MB_YESNO | MB_DEFBUTTON2), IDNO);
    SetStdHandle(STD_OUTPUT_HANDLE, nullptr);
    EXPECT_EQ(ShowWithoutHandler(L"boxed", MB_OKCANCEL), IDRETRY);
    SetStdHandle(STD_OUTPUT_HANDLE, saved);
    EXPECT_EQ(file.Read(), "x\ny"); // no line break added
    // A plain box: no icon or style added.
    EXPECT_EQ(Seen.boxes, std::vector<std::wstring>{Display(nullptr, L"Zelkor", L"boxed", MB_OKCANCEL)});
}

// ---- Choice of the handler, in processes of their own -----------------------------------

namespace {

// Runs a test host with the given standard output (null: none); returns its exit code, the
// number of the handler that took its display (1 message box, 2 console, 3 event log).
DWORD RunHost(const wchar_t* variant, HANDLE output, const wchar_t* argument = L"")
{
    std::wstring command = L"\"" + BesideThisProgram(std::wstring(L"MessageHost") + variant + L".exe") + L"\" " + argument;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        ADD_FAILURE() << "cannot start " << testing::PrintToString(command) << ": " << GetLastError();
        return 255;
    }
    // A box that waited for a person would hang here.
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0);
    DWORD code = 255;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code;
}

} // namespace

TEST(MessageHandlerChoice, ByVersionValueElseByOutput)
{
    const struct { const wchar_t *variant, *argument; bool withOutput; DWORD handler; const char* written; } rows[] = {
        {L"Plain", L"", true, 2, "a\r\nb\r\n"},
        {L"Plain", L"atexit", true, 2, "a\r\nb\r\nafter"}, // after the handlers: as is, to the output
        {L"Plain", L"", false, 1, ""},
        {L"MessageBox", L"", true, 1, ""},
        {L"EventLog", L"", true, 3, ""},
    };
    for (const auto& row : rows) {
        CTempFile file(std::string(), true);
        EXPECT_EQ(RunHost(row.variant, row.withOutput ? file.handle : nullptr, row.argument), row.handler)
            << testing::PrintToString(std::wstring(row.variant)) << " output " << row.withOutput;
        EXPECT_EQ(file.Read(), row.written) << testing::PrintToString(std::wstring(row.variant));
    }
}
