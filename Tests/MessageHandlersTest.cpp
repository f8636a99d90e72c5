// Message display. No test shows a real box: the platform calls are replaced, or the text is
// caught by a handler of the thread's own.
#include "MessageHandlers.h"
#include "RegistryKey.h"
#include "ResourceInfo.h"
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

// What the replaced platform calls saw, in order.
Texts Calls;
HANDLE SourceToGive = reinterpret_cast<HANDLE>(0x5eed);

// Notes a platform call and gives its result.
template <class T>
T Note(const std::wstring& call, T result)
{
    Calls.push_back(call);
    return result;
}

class MessageDisplay : public testing::Test {
protected:
    void SetUp() override
    {
        Calls.clear();
        CPlatformCalls fakes;
        fakes.ShowBox = [](HWND, LPCWSTR text, LPCWSTR title, UINT flags) { return Note(L"box " + Display(title, text, flags), IDRETRY); };
        fakes.ShowBoxIndirect = [](const MSGBOXPARAMSW* box) {
            Calls.push_back(L"icon " + Display(box->lpszCaption, box->lpszText, box->dwStyle) + L" " + box->lpszIcon +
                            (box->hInstance == GetModuleHandleW(L"IconModule.dll") ? L"" : L" elsewhere") +
                            (box->cbSize == sizeof *box ? L"" : L" unsized"));
            return IDRETRY;
        };
        fakes.WriteToConsole = [](HANDLE, const VOID* text, DWORD count, LPDWORD written, LPVOID) {
            Calls.push_back(L"console " + std::wstring(static_cast<const wchar_t*>(text), count));
            *written = count;
            return TRUE;
        };
        fakes.RegisterSource = [](LPCWSTR, LPCWSTR name) { return Note(L"register " + std::wstring(name), SourceToGive); };
        // Event 1 of no category and no user, with two strings and no data; anything else is another event.
        fakes.Report = [](HANDLE, WORD type, WORD c, DWORD id, PSID u, WORD n, DWORD size, LPCWSTR* s, LPVOID d) {
            const wchar_t* kind = !c && id == 1 && !u && n == 2 && !size && !d ? L"event " : L"other event ";
            return Note(kind + std::to_wstring(type) + L" " + s[0] + L"|" + s[1], TRUE);
        };
        fakes.Deregister = [](HANDLE source) { return Note(source == SourceToGive ? L"deregister" : L"deregister another", TRUE); };
        SetPlatformCallsForTest(fakes);
    }
    void TearDown() override
    {
        ThreadLogData.Get().Handler = nullptr;
        SetPlatformCallsForTest(CPlatformCalls());
    }
};

// A temporary file, inheritable, opened for reading and writing with the given first bytes,
// standing at its end as a redirected, appending standard output does; gone when closed.
struct CTempFile {
    explicit CTempFile(const std::string& content = std::string())
    {
        wchar_t file[MAX_PATH + 1];
        GetTempFileNameW(L".", L"zmh", 0, file); // in the working directory
        SECURITY_ATTRIBUTES security = {sizeof(security), nullptr, TRUE};
        handle = CreateFileW(file, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &security, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
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

} // namespace

// The answer table whole: each button set with each default button (the fourth falls back to the
// first column) answers from the table on the console and in the event log, with the set's event
// type; a set without a row answers Abort. An icon decides the event type, never the answer. The
// box adds the exclamation mark to the button sets that do not say what happened, and brings
// itself to the front without an owner; an icon that no module has is an internal error.
// The event log registers its source on the first event, again after a refusal, and records
// exceptions (but not user exceptions) as errors. Its key in HKEY_LOCAL_MACHINE names the
// message file beside the module; the key is removed first, so a registration of an earlier
// run cannot stand in.
TEST_F(MessageDisplay, AnswersEventTypesAndBoxStyles)
{
    const uint32_t front = MB_TASKMODAL | MB_SETFOREGROUND | MB_TOPMOST, mark = MB_ICONEXCLAMATION;
    // clang-format off
    const struct { uint32_t flags; WORD eventType; int32_t answers[4]; uint32_t boxIcon; } rows[] = {
        {MB_OK, 4, {1, 1, 1, 1}, mark}, {MB_OKCANCEL, 2, {1, 2, 1, 1}, mark}, {MB_YESNO, 4, {6, 7, 6, 6}, mark},
        {MB_YESNOCANCEL, 4, {6, 7, 2, 6}, mark}, {MB_RETRYCANCEL, 1, {4, 2, 4, 4}, 0}, {MB_ABORTRETRYIGNORE, 1, {3, 4, 5, 3}, 0},
        {6, 4, {3, 3, 3, 3}, 0}, {0xF, 4, {3, 3, 3, 3}, 0}, // sets without a row
        {MB_YESNO | MB_ICONHAND | MB_SYSTEMMODAL, 1, {6, 7, 6, 6}, 0}, {MB_ABORTRETRYIGNORE | MB_ICONASTERISK, 4, {3, 4, 5, 3}, 0},
        {MB_ICONEXCLAMATION, 2, {1, 1, 1, 1}, 0},
    };
    // clang-format on
    const wchar_t* const sourceKey = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Zelkor";
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, sourceKey);
    CConsoleMessageHandler console(nullptr, FILE_TYPE_UNKNOWN); // to the debugger output
    CMessageBoxHandler box;
    CLastErrorException failure(ERROR_ACCESS_DENIED);
    Texts expected{L"register Zelkor", L"register Zelkor"};
    {
        CEventLogMessageHandler eventLog;
        SourceToGive = nullptr;
        EXPECT_EQ(eventLog.Show(nullptr, L"refused", L"c", MB_YESNO), IDYES);
        SourceToGive = reinterpret_cast<HANDLE>(0x5eed);
        for (const auto& row : rows)
            for (uint32_t column = 0; column < 4; ++column) {
                const uint32_t flags = row.flags | column * MB_DEFBUTTON2;
                const std::wstring caption = std::to_wstring(flags); // names the row
                EXPECT_EQ(console.Show(nullptr, L"q", caption.c_str(), flags), row.answers[column]) << std::hex << flags;
                EXPECT_EQ(eventLog.Show(nullptr, L"q", caption.c_str(), flags), row.answers[column]) << std::hex << flags;
                EXPECT_EQ(box.Show(nullptr, L"q", caption.c_str(), flags), IDRETRY);
                expected.push_back(L"event " + std::to_wstring(row.eventType) + L" " + caption + L"|q");
                expected.push_back(L"box " + Display(caption.c_str(), L"q", front | flags | row.boxIcon));
            }
        box.ShowWithIcon(nullptr, L"t", L"c", MB_OK, nullptr);                               // no icon name: the plain box
        EXPECT_EQ(console.ShowWithIcon(nullptr, L"q", L"c", MB_YESNO, L"PROBEICON"), IDYES); // no icon where there is no box
        EXPECT_TRUE(ReportsAt(CheckSite::MessageIconModuleNotFound,
                              [&] { box.ShowWithIcon(nullptr, L"t", L"c", MB_OK, L"NO_SUCH_ICON_ANYWHERE"); }));
        expected.push_back(L"box " + Display(L"c", L"t", front | MB_ICONEXCLAMATION));
        // An icon of a resource module replaces the one the flags ask for.
        const HMODULE icons = LoadLibraryW(L"IconModule.dll");
        RegisterResourceModule(icons);
        EXPECT_EQ(box.ShowWithIcon(nullptr, L"t", L"c", MB_YESNO | MB_ICONHAND, L"PROBEICON"), IDRETRY);
        UnregisterResourceModule(icons), FreeLibrary(icons);
        expected.push_back(L"icon " + Display(L"c", L"t", front | MB_YESNO | MB_USERICON) + L" PROBEICON");
        CUserException user;
        eventLog.HandleException(&user), eventLog.HandleException(&failure);
    }
    expected.push_back(L"event 1 Zelkor|" + std::wstring(failure.GetMessageText().GetText()));
    expected.push_back(L"deregister");
    EXPECT_EQ(Calls, expected);
    CRegistryKey source;
    ASSERT_TRUE(source.Open(HKEY_LOCAL_MACHINE, sourceKey, CRegistryKey::Read));
    const std::wstring file = ProgramFolder() + L"ZelkorEventSrc.dll";
    EXPECT_EQ(W(source.GetStringValue(L"EventMessageFile", L"")), file);
    DWORD bytes = 0; // the text and its terminator, nothing after them
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, sourceKey, L"EventMessageFile", RRF_RT_ANY, nullptr, nullptr, &bytes), ERROR_SUCCESS);
    EXPECT_EQ(bytes, (file.size() + 1) * sizeof(wchar_t));
}

// Into a file the encoding follows what the file holds. On a console a null text is an internal
// error and writes nothing; with the line break the long text is one unit longer than the
// largest piece.
TEST_F(MessageDisplay, ConsoleLineBreaksEncodingAndPieces)
{
    const std::string mark("\xFF\xFE", 2);
    auto utf16 = [](const std::wstring& text) { return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2); };
    // atStart: the handle stands at the start of the file rather than at its end.
    // clang-format off
    const struct { std::string before; bool atStart; const wchar_t* text; std::string after; } rows[] = {
        {"", false, L"\r\n\n", "\r\n\r\n\r\n"}, // an empty file gets ANSI
        {mark + utf16(L"x"), false, L"a\nb", mark + utf16(L"xa\r\nb\r\n")}, // a UTF-16 file stays UTF-16
        {"\xFE\xFF", false, L"a", "\xFE\xFF" "a\r\n"},  // big-endian mark
        {mark, true, L"a\nb", "a\r\nb\r\n"},            // at the start: ANSI, written over the mark
    };
    // clang-format on
    for (const auto& row : rows) {
        CTempFile file(row.before);
        if (row.atStart)
            SetFilePointerEx(file.handle, LARGE_INTEGER(), nullptr, FILE_BEGIN);
        CConsoleMessageHandler console(file.handle, FILE_TYPE_DISK);
        console.Show(nullptr, row.text, L"c", MB_OK);
        EXPECT_EQ(file.Read(), row.after) << testing::PrintToString(row.before);
    }
    CConsoleMessageHandler console(GetStdHandle(STD_OUTPUT_HANDLE), FILE_TYPE_CHAR);
    EXPECT_TRUE(ReportsAt(CheckSite::ConsoleNullText, [&] { console.Show(nullptr, nullptr, L"c", MB_OK); }));
    const std::wstring text(16384 - 1, L'x');
    console.Show(nullptr, text.c_str(), L"c", MB_OK);
    EXPECT_EQ(Calls, (Texts{L"console " + text + L"\r", L"console \n"}));
}

// ---- Display through the thread's handler and without handler ---------------------------

// Catches what would be shown on the thread that set it.
struct CCapturingHandler : CMessageHandler {
    int32_t Show(HWND, const wchar_t* text, const wchar_t* caption, uint32_t flags) override
    {
        shown.push_back(Display(caption, text, flags));
        return IDNO;
    }
    Texts shown;
};

// The thread's own handler takes its displays and the exceptions it reports. Without a handler
// and without an output the display is a plain box (into an output the text goes as it is: the
// hosts below).
TEST_F(MessageDisplay, ThreadHandlerOrNone)
{
    CCapturingHandler capture;
    ThreadLogData.Get().Handler = &capture;
    EXPECT_EQ(ShowMessage(L"hello", MB_YESNO | MB_ICONQUESTION), IDNO);
    CLastErrorException failure(ERROR_FILE_NOT_FOUND);
    ProcessException(&failure); // reported by the exception itself, through the display
    ProcessException(nullptr);
    EXPECT_EQ(capture.shown,
              (Texts{Display(L"Zelkor", L"hello", MB_YESNO | MB_ICONQUESTION), Display(L"Zelkor", failure.GetMessageText(), 0)}));
    HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, nullptr);
    EXPECT_EQ(ShowWithoutHandler(nullptr, MB_OKCANCEL), IDRETRY);
    SetStdHandle(STD_OUTPUT_HANDLE, saved);
    EXPECT_EQ(Calls, Texts{L"box " + Display(L"Zelkor", L"", MB_OKCANCEL)}); // no icon or style added
}

// ---- Choice of the handler, in processes of their own -----------------------------------

// Each host exits with the number of the handler that took its display (1 message box,
// 2 console, 3 event log); its standard output is the file, or none. The process's own
// directory is searched first, so the host's name suffices. Without a handler (at exit)
// the output is written as is.
TEST(MessageHandlerChoice, ByVersionValueElseByOutput)
{
    // clang-format off
    const struct { const wchar_t *variant, *argument; bool withOutput; DWORD handler; const char* written; } rows[] = {
        {L"Plain", L"atexit", true, 2, "a\r\nb\r\nafter"},
        {L"Plain", L"quiet atexit", true, 0, "after"}, // the handlers went before any was chosen
        {L"Plain", L"double", true, 3, "Double internal error!\r\nApplication terminated.\r\n"}, // aborted
        {L"Plain", L"", false, 1, ""},
        {L"MessageBox", L"", true, 1, ""},
        {L"EventLog", L"", true, 3, ""},
    };
    // clang-format on
    for (const auto& row : rows) {
        const std::wstring command = std::wstring(L"MessageHost") + row.variant + L".exe " + row.argument;
        SCOPED_TRACE(testing::PrintToString(command) + (row.withOutput ? "" : " without output"));
        CTempFile file;
        // A box that waited for a person would hang until the process is ended.
        EXPECT_EQ(RunProcess(command, row.withOutput ? file.handle : INVALID_HANDLE_VALUE), row.handler);
        EXPECT_EQ(file.Read(), row.written);
    }
    // Output into a pipe, as under CTest or a CI runner, takes the console handler too.
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE reader = nullptr, writer = nullptr;
    ASSERT_TRUE(CreatePipe(&reader, &writer, &inheritable, 0));
    EXPECT_EQ(RunProcess(L"MessageHostPlain.exe", writer), 2u);
    CloseHandle(writer), CloseHandle(reader);
}
