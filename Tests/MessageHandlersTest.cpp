// Message display. No test shows a real box: the platform calls are replaced, or the text is
// caught by a handler of the thread's own. HKEY_LOCAL_MACHINE is redirected to a key of the
// test, so the event source's registration stays there.
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "MessageHandlers.h"
#include "RegistryKey.h"
#include "TestSupport.h"
#include "ThreadData.h"

using namespace Zelkor;
using namespace Zelkor::MessageHandlersInternal;

namespace {

using Texts = std::vector<std::wstring>;

// One display as "caption|text flags"; an owner window would show as a prefix.
std::wstring Display(HWND owner, const wchar_t* caption, const wchar_t* text, uint32_t flags)
{
    return (owner ? L"owned " : L"") + std::wstring(caption) + L"|" + text + L" " + std::to_wstring(flags);
}

// What the replaced platform calls saw, in order; the text written to a console apart.
Texts Calls;
std::wstring ConsoleText;
HANDLE SourceToGive;

constexpr const wchar_t* MachinePath = L"Software\\ZelkorTests\\MessageHandlersMachine";

class MessageDisplay : public testing::Test {
protected:
    void SetUp() override
    {
        Calls.clear();
        ConsoleText.clear();
        SourceToGive = reinterpret_cast<HANDLE>(0x5eed);
        CPlatformCalls fakes;
        fakes.ShowBox = [](HWND owner, LPCWSTR text, LPCWSTR caption, UINT flags) {
            Calls.push_back(L"box " + Display(owner, caption, text, flags));
            return IDRETRY;
        };
        fakes.ShowBoxIndirect = [](const MSGBOXPARAMSW* b) {
            Calls.push_back(L"icon box " + Display(b->hwndOwner, b->lpszCaption, b->lpszText, b->dwStyle));
            return IDRETRY;
        };
        fakes.WriteToConsole = [](HANDLE, const VOID* text, DWORD count, LPDWORD written, LPVOID) {
            Calls.push_back(L"console " + std::to_wstring(count));
            ConsoleText.append(static_cast<const wchar_t*>(text), *written = count);
            return TRUE;
        };
        fakes.RegisterSource = [](LPCWSTR server, LPCWSTR name) {
            Calls.push_back((server ? L"register remote " : L"register ") + std::wstring(name));
            return SourceToGive;
        };
        fakes.Report = [](HANDLE source, WORD type, WORD category, DWORD id, PSID user, WORD count, DWORD dataSize,
                          LPCWSTR* strings, LPVOID data) {
            EXPECT_TRUE(source == SourceToGive && category == 0 && !user && dataSize == 0 && !data && count == 2);
            Calls.push_back(L"event " + std::to_wstring(type) + L" " + std::to_wstring(id) + L" " + strings[0] + L"|" + strings[1]);
            return TRUE;
        };
        fakes.Deregister = [](HANDLE source) {
            Calls.push_back(source == SourceToGive ? L"deregister" : L"deregister another");
            return TRUE;
        };
        previous = SetPlatformCallsForTest(fakes);
        RegDeleteTreeW(HKEY_CURRENT_USER, MachinePath);
        RegCreateKeyExW(HKEY_CURRENT_USER, MachinePath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &machine, nullptr);
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine);
    }
    void TearDown() override
    {
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        RegCloseKey(machine);
        RegDeleteTreeW(HKEY_CURRENT_USER, MachinePath);
        ThreadLogData.Get().Handler = nullptr;
        SetPlatformCallsForTest(previous);
    }
    CPlatformCalls previous;
    HKEY machine = nullptr;
};

// A temporary file, inheritable, opened for reading and writing with the given first bytes,
// standing at its end as a redirected, appending standard output does; gone when closed.
class CTempFile {
public:
    explicit CTempFile(const std::string& content = std::string())
    {
        wchar_t directory[MAX_PATH + 1], file[MAX_PATH + 1];
        GetTempPathW(MAX_PATH + 1, directory);
        GetTempFileNameW(directory, L"zmh", 0, file);
        SECURITY_ATTRIBUTES security = {sizeof(security), nullptr, TRUE};
        handle = CreateFileW(file, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &security,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        DWORD written = 0;
        WriteFile(handle, content.data(), DWORD(content.size()), &written, nullptr);
    }
    ~CTempFile() { CloseHandle(handle); }
    std::string Read() const
    {
        SetFilePointerEx(handle, LARGE_INTEGER(), nullptr, FILE_BEGIN);
        std::string content(1 << 16, '\0');
        DWORD read = 0;
        ReadFile(handle, &content[0], DWORD(content.size()), &read, nullptr);
        return content.substr(0, read);
    }
    HANDLE handle;
};

std::wstring BesideThisProgram(const std::wstring& file)
{
    wchar_t self[MAX_PATH + 1];
    const std::wstring path(self, GetModuleFileNameW(nullptr, self, MAX_PATH + 1));
    return path.substr(0, path.find_last_of(L'\\') + 1) + file;
}

} // namespace

// ---- Handlers that cannot ask, and the event log ----------------------------------------

// The event log registers its source on the first event, again after a refusal, and records
// exceptions (but not user exceptions) as errors without showing them.
TEST_F(MessageDisplay, ConsoleAndEventLogAnswerFromTheTable)
{
    const WORD error = EVENTLOG_ERROR_TYPE, warning = EVENTLOG_WARNING_TYPE, information = EVENTLOG_INFORMATION_TYPE;
    const struct { uint32_t flags; int32_t answer; WORD eventType; } rows[] = {
        {MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL, warning}, {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL, information},
        {MB_ABORTRETRYIGNORE | MB_DEFBUTTON4, IDABORT, error}, // 0x300 falls back to the first column
        {6 | MB_DEFBUTTON2, IDABORT, information}, {0xF, IDABORT, information}, // unknown button sets
        // An icon decides the event type, never the answer.
        {MB_YESNO | MB_ICONHAND | MB_DEFBUTTON2, IDNO, error}, {MB_RETRYCANCEL | MB_ICONQUESTION, IDRETRY, information},
        {MB_ABORTRETRYIGNORE | MB_ICONASTERISK | MB_DEFBUTTON3, IDIGNORE, information},
        {MB_ICONEXCLAMATION, IDOK, warning}, {MB_OKCANCEL | MB_USERICON, IDOK, warning},
    };
    CTempFile file;
    CConsoleMessageHandler console(file.handle, FILE_TYPE_DISK);
    CLastErrorException failure(ERROR_ACCESS_DENIED);
    Texts expected{L"register Zelkor", L"register Zelkor"};
    {
        CEventLogMessageHandler eventLog;
        SourceToGive = nullptr;
        EXPECT_EQ(eventLog.Show(nullptr, L"refused", L"c", MB_YESNO), IDYES);
        SourceToGive = reinterpret_cast<HANDLE>(0x5eed);
        for (const auto& row : rows) {
            const std::wstring caption = std::to_wstring(row.flags); // names the row
            EXPECT_EQ(console.Show(nullptr, L"q", caption.c_str(), row.flags), row.answer) << std::hex << row.flags;
            EXPECT_EQ(eventLog.Show(nullptr, L"q", caption.c_str(), row.flags), row.answer) << std::hex << row.flags;
            expected.push_back(L"event " + std::to_wstring(row.eventType) + L" 1 " + caption + L"|q");
        }
        CUserException user;
        eventLog.HandleException(&user);
        eventLog.HandleException(&failure);
    }
    expected.push_back(L"event 1 1 Zelkor|" + std::wstring(failure.GetMessageText().GetText()));
    expected.push_back(L"deregister");
    EXPECT_EQ(Calls, expected);
    CRegistryKey source;
    ASSERT_TRUE(source.Open(machine, L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Zelkor", CRegistryKey::Read));
    EXPECT_EQ(std::wstring(source.GetStringValue(L"EventMessageFile", L"").GetText()), BesideThisProgram(L"ZelkorEventSrc.dll"));
}

// ---- Console and message box ------------------------------------------------------------

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
    const struct { int length; Texts pieces; } rows[] = {
        {40000 - 2, {L"console 16384", L"console 16384", L"console 7232"}},
        {16384 - 2, {L"console 16384"}}, {16384 - 1, {L"console 16384", L"console 1"}}};
    for (const auto& row : rows) {
        Calls.clear();
        ConsoleText.clear();
        CConsoleMessageHandler console(GetStdHandle(STD_OUTPUT_HANDLE), FILE_TYPE_CHAR);
        std::wstring text(row.length, L'x');
        for (int i = 0; i < row.length; i += 1000)
            text[i] = wchar_t(L'A' + i / 1000 % 26); // a lost or repeated piece shows
        console.Show(nullptr, text.c_str(), L"c", MB_OK);
        EXPECT_EQ(Calls, row.pieces) << row.length;
        EXPECT_EQ(ConsoleText, text + L"\r\n") << row.length;
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
    EXPECT_TRUE(Calls.empty());
    console.Show(nullptr, L"ok", L"c", MB_OK); // the console lock was left
    EXPECT_EQ(file.Read(), "ok\r\n");
}

TEST_F(MessageDisplay, MessageBoxIconAndStyle)
{
    const uint32_t front = MB_TASKMODAL | MB_SETFOREGROUND | MB_TOPMOST; // no owner to stay in front of
    const struct { uint32_t flags, shown; } rows[] = {
        {MB_OK, MB_ICONEXCLAMATION}, {MB_YESNO, MB_YESNO | MB_ICONEXCLAMATION}, {MB_ABORTRETRYIGNORE, MB_ABORTRETRYIGNORE},
        {MB_RETRYCANCEL, MB_RETRYCANCEL}, {6, 6}, {MB_YESNO | MB_ICONQUESTION, MB_YESNO | MB_ICONQUESTION},
        {MB_ICONHAND | MB_SYSTEMMODAL | MB_DEFBUTTON2, MB_ICONHAND | MB_SYSTEMMODAL | MB_DEFBUTTON2},
    };
    CMessageBoxHandler box;
    Texts expected;
    for (const auto& row : rows) {
        EXPECT_EQ(box.Show(nullptr, L"t", L"c", row.flags), IDRETRY);
        expected.push_back(L"box " + Display(nullptr, L"c", L"t", front | row.shown));
    }
    box.ShowWithIcon(nullptr, L"t", L"c", MB_OK, nullptr); // no icon name: the plain box
    expected.push_back(L"box " + Display(nullptr, L"c", L"t", front | MB_ICONEXCLAMATION));
    EXPECT_EQ(Calls, expected);
}

// ---- Display through the thread's handler and without handler ---------------------------

// Catches what would be shown on the threads that set it, and notices displays that overlap.
class CCapturingHandler : public CMessageHandler {
public:
    int32_t Show(HWND window, const wchar_t* text, const wchar_t* caption, uint32_t flags) override
    {
        if (++inside > 1)
            overlapped = true;
        Sleep(20);
        shown.push_back(Display(window, caption, text, flags));
        --inside;
        return IDNO;
    }
    Texts shown;
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
};

TEST_F(MessageDisplay, ThreadHandlerTakesDisplaysAndExceptions)
{
    CCapturingHandler capture;
    ThreadLogData.Get().Handler = &capture;
    EXPECT_EQ(GetMessageHandler(), &capture);
    EXPECT_EQ(ShowMessage(L"hello", MB_YESNO | MB_ICONQUESTION), IDNO);
    CLastErrorException failure(ERROR_FILE_NOT_FOUND);
    ProcessException(&failure); // reported by the exception itself, through the display
    ProcessException(nullptr);
    EXPECT_EQ(capture.shown, (Texts{Display(nullptr, L"Zelkor", L"hello", MB_YESNO | MB_ICONQUESTION),
                                    Display(nullptr, L"Zelkor", failure.GetMessageText(), 0)}));
    CMessageHandler* other = nullptr;
    std::thread([&] { other = GetMessageHandler(); }).join();
    EXPECT_TRUE(other != nullptr && other != &capture);
}

TEST_F(MessageDisplay, DisplaysOfThreadsDoNotOverlap)
{
    CCapturingHandler slow;
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
    EXPECT_EQ(slow.shown.size(), 4u);
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
    EXPECT_EQ(Calls, Texts{L"box " + Display(nullptr, L"Zelkor", L"boxed", MB_OKCANCEL)}); // no icon or style added
}

// ---- Choice of the handler, in processes of their own -----------------------------------

// Each host exits with the number of the handler that took its display (1 message box,
// 2 console, 3 event log); its standard output is the file, or none.
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
        SCOPED_TRACE(testing::PrintToString(std::wstring(row.variant) + L" " + row.argument) + " output " +
                     std::to_string(row.withOutput));
        CTempFile file;
        std::wstring command = L"\"" + BesideThisProgram(std::wstring(L"MessageHost") + row.variant + L".exe") + L"\" " + row.argument;
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = row.withOutput ? file.handle : nullptr;
        PROCESS_INFORMATION process = {};
        ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
            << GetLastError();
        // A box that waited for a person would hang here.
        EXPECT_EQ(WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0);
        DWORD handler = 255;
        GetExitCodeProcess(process.hProcess, &handler);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        EXPECT_EQ(handler, row.handler);
        EXPECT_EQ(file.Read(), row.written);
    }
}
