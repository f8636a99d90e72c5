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

// One display as "caption|text flags".
std::wstring Display(const wchar_t* caption, const wchar_t* text, uint32_t flags)
{
    return std::wstring(caption) + L"|" + text + L" " + std::to_wstring(flags);
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
        fakes.ShowBox = [](HWND, LPCWSTR text, LPCWSTR caption, UINT flags) {
            Calls.push_back(L"box " + Display(caption, text, flags));
            return IDRETRY;
        };
        fakes.WriteToConsole = [](HANDLE, const VOID* text, DWORD count, LPDWORD written, LPVOID) {
            Calls.push_back(L"console " + std::to_wstring(count));
            ConsoleText.append(static_cast<const wchar_t*>(text), *written = count);
            return TRUE;
        };
        fakes.RegisterSource = [](LPCWSTR, LPCWSTR name) {
            Calls.push_back(L"register " + std::wstring(name));
            return SourceToGive;
        };
        fakes.Report = [](HANDLE, WORD type, WORD, DWORD, PSID, WORD, DWORD, LPCWSTR* strings, LPVOID) {
            Calls.push_back(L"event " + std::to_wstring(type) + L" " + strings[0] + L"|" + strings[1]);
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

// Handlers that cannot ask answer from the table (the default button picks the column); an
// icon decides the event type, never the answer. The box adds the exclamation mark to the
// button sets that do not say what happened, and brings itself to the front without an owner;
// an icon that no module has is an internal error.
// The event log registers its source on the first event, again after a refusal, and records
// exceptions (but not user exceptions) as errors.
TEST_F(MessageDisplay, AnswersEventTypesAndBoxStyles)
{
    const WORD error = EVENTLOG_ERROR_TYPE, warning = EVENTLOG_WARNING_TYPE, information = EVENTLOG_INFORMATION_TYPE;
    const uint32_t front = MB_TASKMODAL | MB_SETFOREGROUND | MB_TOPMOST;
    const struct { uint32_t flags; int32_t answer; WORD eventType; uint32_t boxIcon; } rows[] = {
        {MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL, warning, MB_ICONEXCLAMATION},
        {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL, information, MB_ICONEXCLAMATION},
        {MB_YESNO, IDYES, information, MB_ICONEXCLAMATION},
        {MB_ABORTRETRYIGNORE | MB_DEFBUTTON4, IDABORT, error, 0}, // 0x300 falls back to the first column
        {0xF, IDABORT, information, 0}, // an unknown button set
        {MB_YESNO | MB_ICONHAND | MB_SYSTEMMODAL | MB_DEFBUTTON2, IDNO, error, 0},
        {MB_ABORTRETRYIGNORE | MB_ICONASTERISK | MB_DEFBUTTON3, IDIGNORE, information, 0},
        {MB_ICONEXCLAMATION, IDOK, warning, 0},
    };
    CTempFile file;
    CConsoleMessageHandler console(file.handle, FILE_TYPE_DISK);
    CMessageBoxHandler box;
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
            EXPECT_EQ(box.Show(nullptr, L"q", caption.c_str(), row.flags), IDRETRY);
            expected.push_back(L"event " + std::to_wstring(row.eventType) + L" " + caption + L"|q");
            expected.push_back(L"box " + Display(caption.c_str(), L"q", front | row.flags | row.boxIcon));
        }
        box.ShowWithIcon(nullptr, L"t", L"c", MB_OK, nullptr); // no icon name: the plain box
        EXPECT_TRUE(ReportsAt(CheckSite::MessageIconModuleNotFound,
                              [&] { box.ShowWithIcon(nullptr, L"t", L"c", MB_OK, L"NO_SUCH_ICON_ANYWHERE"); }));
        expected.push_back(L"box " + Display(L"c", L"t", front | MB_ICONEXCLAMATION));
        CUserException user;
        eventLog.HandleException(&user);
        eventLog.HandleException(&failure);
    }
    expected.push_back(L"event 1 Zelkor|" + std::wstring(failure.GetMessageText().GetText()));
    expected.push_back(L"deregister");
    EXPECT_EQ(Calls, expected);
    CRegistryKey source;
    ASSERT_TRUE(source.Open(machine, L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Zelkor", CRegistryKey::Read));
    EXPECT_EQ(std::wstring(source.GetStringValue(L"EventMessageFile", L"").GetText()), BesideThisProgram(L"ZelkorEventSrc.dll"));
}

// A null text is an internal error, and the console's lock is left for the next display.
TEST_F(MessageDisplay, ConsoleLineBreaksEncodingAndNullText)
{
    const std::string mark("\xFF\xFE", 2);
    auto utf16 = [](const std::wstring& text) { return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2); };
    // atStart: the handle stands at the start of the file rather than at its end.
    const struct { std::string before; bool atStart; const wchar_t* text; std::string after; } rows[] = {
        {"", false, L"\r\n\n", "\r\n\r\n\r\n"}, // an empty file gets ANSI
        {mark + utf16(L"x"), false, L"a\nb", mark + utf16(L"xa\r\nb\r\n")}, // a UTF-16 file stays UTF-16
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
    CTempFile file;
    CConsoleMessageHandler console(file.handle, FILE_TYPE_DISK);
    EXPECT_TRUE(ReportsAt(CheckSite::ConsoleNullText, [&] { console.Show(nullptr, nullptr, L"c", MB_OK); }));
    console.Show(nullptr, L"ok", L"c", MB_OK);
    EXPECT_EQ(file.Read(), "ok\r\n");
}

// With the line break the text is one unit longer than the largest piece.
TEST_F(MessageDisplay, ConsoleTakesLongTextInPieces)
{
    CConsoleMessageHandler console(GetStdHandle(STD_OUTPUT_HANDLE), FILE_TYPE_CHAR);
    std::wstring text(16384 - 1, L'x');
    for (size_t i = 0; i < text.size(); i += 1000)
        text[i] = wchar_t(L'A' + i / 1000); // a lost or repeated piece shows
    console.Show(nullptr, text.c_str(), L"c", MB_OK);
    EXPECT_EQ(Calls, (Texts{L"console 16384", L"console 1"}));
    EXPECT_EQ(ConsoleText, text + L"\r\n");
}

// ---- Display through the thread's handler and without handler ---------------------------

// Catches what would be shown on the threads that set it, and notices displays that overlap.
class CCapturingHandler : public CMessageHandler {
public:
    int32_t Show(HWND, const wchar_t* text, const wchar_t* caption, uint32_t flags) override
    {
        if (++inside > 1)
            overlapped = true;
        Sleep(20);
        shown.push_back(Display(caption, text, flags));
        --inside;
        return IDNO;
    }
    Texts shown;
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
};

// Other threads keep the process's handler; threads that set the same one take turns with it.
TEST_F(MessageDisplay, ThreadHandlerTakesDisplaysAndExceptions)
{
    CCapturingHandler capture;
    ThreadLogData.Get().Handler = &capture;
    EXPECT_EQ(ShowMessage(L"hello", MB_YESNO | MB_ICONQUESTION), IDNO);
    CLastErrorException failure(ERROR_FILE_NOT_FOUND);
    ProcessException(&failure); // reported by the exception itself, through the display
    ProcessException(nullptr);
    std::atomic<int> sawAnother{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            const CMessageHandler* before = GetMessageHandler();
            sawAnother += before != nullptr && before != &capture;
            ThreadLogData.Get().Handler = &capture;
            ShowMessage(L"t", MB_OK);
            ThreadLogData.Get().Handler = nullptr;
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(sawAnother.load(), 4);
    EXPECT_FALSE(capture.overlapped);
    const std::wstring t = Display(L"Zelkor", L"t", MB_OK);
    EXPECT_EQ(capture.shown, (Texts{Display(L"Zelkor", L"hello", MB_YESNO | MB_ICONQUESTION),
                                    Display(L"Zelkor", failure.GetMessageText(), 0), t, t, t, t}));
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
    EXPECT_EQ(Calls, Texts{L"box " + Display(L"Zelkor", L"boxed", MB_OKCANCEL)}); // no icon or style added
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
        const std::wstring host = BesideThisProgram(std::wstring(L"MessageHost") + row.variant + L".exe");
        // A box that waited for a person would hang until the process is ended.
        EXPECT_EQ(RunProcess(L"\"" + host + L"\" " + row.argument, row.withOutput ? file.handle : INVALID_HANDLE_VALUE), row.handler);
        EXPECT_EQ(file.Read(), row.written);
    }
}
