// Message display. No test shows a real box: the platform calls are replaced, or the text is
// caught by a handler of the thread's own.
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Errors.h"
#include "MessageHandlers.h"
#include "ThreadData.h"

using namespace Zelkor;
using namespace Zelkor::MessageHandlersInternal;

namespace {

// What the replaced platform calls saw.
struct CSeen {
    std::vector<std::wstring> boxTexts, boxCaptions;
    std::vector<UINT> boxFlags;
    std::vector<HWND> boxOwners;
    std::vector<DWORD> consolePieces;
    std::wstring consoleText;
    int registrations = 0, deregistrations = 0;
    std::wstring registeredName;
    std::vector<WORD> eventTypes;
    std::vector<std::vector<std::wstring>> eventStrings;
    std::vector<DWORD> eventIds;
    int boxAnswer = IDRETRY;
    HANDLE sourceToGive = reinterpret_cast<HANDLE>(0x5eed);
};
CSeen Seen;

int WINAPI FakeBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT flags)
{
    Seen.boxOwners.push_back(owner);
    Seen.boxTexts.push_back(text ? text : L"(null)");
    Seen.boxCaptions.push_back(caption ? caption : L"(null)");
    Seen.boxFlags.push_back(flags);
    return Seen.boxAnswer;
}

int WINAPI FakeBoxIndirect(const MSGBOXPARAMSW* box)
{
    return FakeBox(box->hwndOwner, box->lpszText, box->lpszCaption, box->dwStyle);
}

BOOL WINAPI FakeConsole(HANDLE, const VOID* text, DWORD count, LPDWORD written, LPVOID)
{
    Seen.consolePieces.push_back(count);
    Seen.consoleText.append(static_cast<const wchar_t*>(text), count);
    *written = count;
    return TRUE;
}

HANDLE WINAPI FakeRegister(LPCWSTR server, LPCWSTR name)
{
    EXPECT_EQ(server, nullptr);
    ++Seen.registrations;
    Seen.registeredName = name;
    return Seen.sourceToGive;
}

BOOL WINAPI FakeReport(HANDLE source, WORD type, WORD category, DWORD id, PSID user, WORD count, DWORD dataSize,
                       LPCWSTR* strings, LPVOID data)
{
    EXPECT_EQ(source, Seen.sourceToGive);
    EXPECT_EQ(category, 0);
    EXPECT_EQ(user, nullptr);
    EXPECT_EQ(dataSize, 0u);
    EXPECT_EQ(data, nullptr);
    Seen.eventTypes.push_back(type);
    Seen.eventIds.push_back(id);
    Seen.eventStrings.emplace_back(strings, strings + count);
    return TRUE;
}

BOOL WINAPI FakeDeregister(HANDLE source)
{
    EXPECT_EQ(source, Seen.sourceToGive);
    ++Seen.deregistrations;
    return TRUE;
}

// Every test runs with fake platform calls and restores the real ones.
class MessageDisplay : public testing::Test {
protected:
    void SetUp() override
    {
        Seen = CSeen();
        CPlatformCalls fakes;
        fakes.ShowBox = FakeBox;
        fakes.ShowBoxIndirect = FakeBoxIndirect;
        fakes.WriteToConsole = FakeConsole;
        fakes.RegisterSource = FakeRegister;
        fakes.Report = FakeReport;
        fakes.Deregister = FakeDeregister;
        previous = SetPlatformCallsForTest(fakes);
    }
    void TearDown() override
    {
        ThreadLogData.Get().Handler = nullptr;
        SetPlatformCallsForTest(previous);
    }
    CPlatformCalls previous;
};

std::wstring TempFileName()
{
    wchar_t directory[MAX_PATH + 1], name[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, directory);
    GetTempFileNameW(directory, L"zmh", 0, name);
    return name;
}

// A temporary file opened for reading and writing, with the given first bytes, positioned at
// its end (as a redirected, appending standard output is).
class CTempFile {
public:
    explicit CTempFile(const std::string& content = std::string(), bool inheritable = false) : name(TempFileName())
    {
        SECURITY_ATTRIBUTES security = {sizeof(security), nullptr, inheritable};
        handle = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             &security, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        if (!content.empty())
            WriteFile(handle, content.data(), DWORD(content.size()), &written, nullptr);
    }
    ~CTempFile()
    {
        CloseHandle(handle);
        DeleteFileW(name.c_str());
    }
    std::string Read() const
    {
        LARGE_INTEGER zero = {};
        SetFilePointerEx(handle, zero, nullptr, FILE_BEGIN);
        std::string content(1 << 16, '\0');
        DWORD read = 0;
        ReadFile(handle, &content[0], DWORD(content.size()), &read, nullptr);
        content.resize(read);
        SetFilePointerEx(handle, zero, nullptr, FILE_END);
        return content;
    }
    HANDLE handle;
    std::wstring name;
};

std::string Utf16Bytes(const std::wstring& text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

// Catches what would be shown on this thread.
class CCapturingHandler : public CMessageHandler {
public:
    int32_t Show(HWND window, const wchar_t* text, const wchar_t* caption, uint32_t flags) override
    {
        owners.push_back(window);
        texts.push_back(text);
        captions.push_back(caption);
        this->flags.push_back(flags);
        return answer;
    }
    std::vector<HWND> owners;
    std::vector<std::wstring> texts, captions;
    std::vector<uint32_t> flags;
    int32_t answer = IDNO;
};

} // namespace

// ---- Answers of the handlers that cannot ask --------------------------------------------

TEST_F(MessageDisplay, AnswerForEveryButtonSetAndDefault)
{
    const struct {
        uint32_t flags;
        int32_t answer;
    } rows[] = {
        {MB_OK, IDOK},
        {MB_OK | MB_DEFBUTTON2, IDOK},
        {MB_OK | MB_DEFBUTTON3, IDOK},
        {MB_OKCANCEL, IDOK},
        {MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL},
        {MB_OKCANCEL | MB_DEFBUTTON3, IDOK},
        {MB_YESNO, IDYES},
        {MB_YESNO | MB_DEFBUTTON2, IDNO},
        {MB_YESNO | MB_DEFBUTTON3, IDYES},
        {MB_YESNOCANCEL, IDYES},
        {MB_YESNOCANCEL | MB_DEFBUTTON2, IDNO},
        {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL},
        {MB_RETRYCANCEL, IDRETRY},
        {MB_RETRYCANCEL | MB_DEFBUTTON2, IDCANCEL},
        {MB_RETRYCANCEL | MB_DEFBUTTON3, IDRETRY},
        {MB_ABORTRETRYIGNORE, IDABORT},
        {MB_ABORTRETRYIGNORE | MB_DEFBUTTON2, IDRETRY},
        {MB_ABORTRETRYIGNORE | MB_DEFBUTTON3, IDIGNORE},
        {MB_ABORTRETRYIGNORE | MB_DEFBUTTON4, IDABORT}, // 0x300 is no column of its own
        {MB_YESNO | MB_ICONHAND | MB_SYSTEMMODAL | MB_DEFBUTTON2, IDNO},
        {6, IDABORT}, // cancel/try/continue has no row
        {6 | MB_DEFBUTTON2, IDABORT},
        {0xF, IDABORT},
    };
    CTempFile file;
    CConsoleMessageHandler console(file.handle, FILE_TYPE_DISK);
    CEventLogMessageHandler eventLog;
    for (const auto& row : rows) {
        EXPECT_EQ(GetMessageTableAnswer(row.flags), row.answer) << std::hex << row.flags;
        EXPECT_EQ(console.Show(nullptr, L"q", L"c", row.flags), row.answer) << std::hex << row.flags;
        EXPECT_EQ(eventLog.Show(nullptr, L"q", L"c", row.flags), row.answer) << std::hex << row.flags;
    }
}

TEST_F(MessageDisplay, EventTypeFromIconElseButtonSet)
{
    const struct {
        uint32_t flags;
        WORD type;
    } rows[] = {
        {MB_ICONHAND, EVENTLOG_ERROR_TYPE},
        {MB_ICONHAND | MB_YESNO, EVENTLOG_ERROR_TYPE},
        {MB_ICONQUESTION | MB_RETRYCANCEL, EVENTLOG_INFORMATION_TYPE},
        {MB_ICONASTERISK, EVENTLOG_INFORMATION_TYPE},
        {MB_ICONEXCLAMATION, EVENTLOG_WARNING_TYPE},
        {MB_OK, EVENTLOG_INFORMATION_TYPE},
        {MB_OKCANCEL, EVENTLOG_WARNING_TYPE},
        {MB_YESNO, EVENTLOG_INFORMATION_TYPE},
        {MB_YESNOCANCEL, EVENTLOG_INFORMATION_TYPE},
        {MB_RETRYCANCEL, EVENTLOG_ERROR_TYPE},
        {MB_ABORTRETRYIGNORE, EVENTLOG_ERROR_TYPE},
        {6, EVENTLOG_INFORMATION_TYPE},
        {MB_USERICON | MB_OKCANCEL, EVENTLOG_WARNING_TYPE}, // an icon of no kind: by buttons
    };
    CEventLogMessageHandler eventLog;
    for (const auto& row : rows) {
        Seen.eventTypes.clear();
        eventLog.Show(nullptr, L"t", L"c", row.flags);
        ASSERT_EQ(Seen.eventTypes.size(), 1u);
        EXPECT_EQ(Seen.eventTypes[0], row.type) << std::hex << row.flags;
    }
}

// ---- Console ----------------------------------------------------------------------------

TEST_F(MessageDisplay, ConsoleLineBreaks)
{
    const struct {
        const wchar_t* text;
        const char* written;
    } rows[] = {
        {L"a\nb", "a\r\nb\r\n"},      {L"a\r\nb", "a\r\nb\r\n"}, {L"", "\r\n"},
        {L"\n", "\r\n\r\n"},          {L"a\n\nb", "a\r\n\r\nb\r\n"}, {L"\r\n\n", "\r\n\r\n\r\n"},
        {L"a\r", "a\r\r\n"},          {L"a\n", "a\r\n\r\n"},
    };
    for (const auto& row : rows) {
        CTempFile file;
        CConsoleMessageHandler console(file.handle, FILE_TYPE_DISK);
        console.Show(nullptr, row.text, L"c", MB_OK);
        EXPECT_EQ(file.Read(), row.written) << testing::PrintToString(std::wstring(row.text));
    }
}

TEST_F(MessageDisplay, ConsoleEncodingFollowsTheFile)
{
    const std::string mark("\xFF\xFE", 2);
    const struct {
        std::string before;
        bool atStart; // the handle stands at the start rather than at the end
        std::string expected;
    } rows[] = {
        {"", false, "a\r\nb\r\n"},                                       // empty: ANSI
        {mark, false, mark + Utf16Bytes(L"a\r\nb\r\n")},                 // UTF-16 mark: UTF-16
        {mark + Utf16Bytes(L"x"), false, mark + Utf16Bytes(L"xa\r\nb\r\n")},
        {"xy", false, "xya\r\nb\r\n"},                                   // other text: ANSI
        {"\xFF", false, "\xFF" "a\r\nb\r\n"},                            // half a mark: ANSI
        {"\xFE\xFF", false, "\xFE\xFF" "a\r\nb\r\n"},                    // big-endian mark: ANSI
        {mark, true, "a\r\nb\r\n"},                                      // at the start: ANSI, overwrites
    };
    for (const auto& row : rows) {
        CTempFile file(row.before);
        if (row.atStart) {
            LARGE_INTEGER zero = {};
            SetFilePointerEx(file.handle, zero, nullptr, FILE_BEGIN);
        }
        CConsoleMessageHandler console(file.handle, FILE_TYPE_DISK);
        console.Show(nullptr, L"a\nb", L"c", MB_OK);
        EXPECT_EQ(file.Read(), row.expected) << testing::PrintToString(row.before);
    }
}

TEST_F(MessageDisplay, ConsoleWritesPipesInAnsi)
{
    HANDLE readEnd, writeEnd;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 0));
    CConsoleMessageHandler console(writeEnd, FILE_TYPE_PIPE);
    const std::wstring text = L"caf\u00e9";
    console.Show(nullptr, text.c_str(), L"c", MB_OK);
    CloseHandle(writeEnd);
    char buffer[64];
    DWORD read = 0;
    ReadFile(readEnd, buffer, sizeof(buffer), &read, nullptr);
    CloseHandle(readEnd);
    char expected[64];
    const std::wstring line = text + L"\r\n";
    int n = WideCharToMultiByte(CP_ACP, 0, line.c_str(), int(line.size()), expected, sizeof(expected), nullptr, nullptr);
    EXPECT_EQ(std::string(buffer, read), std::string(expected, n));
}

TEST_F(MessageDisplay, ConsoleTakesLongTextInPieces)
{
    const struct {
        int length; // before the line break is added
        std::vector<DWORD> pieces;
    } rows[] = {
        {40000 - 2, {16384, 16384, 7232}},
        {16384 - 2, {16384}},
        {16384 - 1, {16384, 1}},
        {0, {2}},
    };
    for (const auto& row : rows) {
        Seen.consolePieces.clear();
        Seen.consoleText.clear();
        CConsoleMessageHandler console(GetStdHandle(STD_OUTPUT_HANDLE), FILE_TYPE_CHAR);
        std::wstring text(row.length, L'x');
        for (int i = 0; i < row.length; i += 1000)
            text[i] = wchar_t(L'A' + i / 1000 % 26); // a lost or repeated piece shows
        console.Show(nullptr, text.c_str(), L"c", MB_OK);
        EXPECT_EQ(Seen.consolePieces, row.pieces) << row.length;
        EXPECT_EQ(Seen.consoleText, text + L"\r\n") << row.length;
    }
}

TEST_F(MessageDisplay, ConsoleNullTextIsInternalError)
{
    CTempFile file;
    CConsoleMessageHandler console(file.handle, FILE_TYPE_DISK);
    try {
        console.Show(nullptr, nullptr, L"c", MB_OK);
        ADD_FAILURE() << "no internal error";
    } catch (CException* e) {
        auto* internal = dynamic_cast<CInternalError*>(e);
        ASSERT_NE(internal, nullptr);
        EXPECT_STREQ(internal->GetSourceFile(), L"Src/MessageHandlers");
        EXPECT_EQ(internal->GetLine(), 47);
        delete e;
    }
    // The lock was left: the handler still works.
    console.Show(nullptr, L"ok", L"c", MB_OK);
    EXPECT_EQ(file.Read(), "ok\r\n");
}

// ---- Message box ------------------------------------------------------------------------

TEST_F(MessageDisplay, MessageBoxIconAndStyle)
{
    const uint32_t ownerless = MB_TASKMODAL | MB_SETFOREGROUND | MB_TOPMOST; // 0x52000
    const struct {
        uint32_t flags, shown;
    } rows[] = {
        {MB_OK, ownerless | MB_ICONEXCLAMATION},
        {MB_ICONHAND, ownerless | MB_ICONHAND},
        {MB_OKCANCEL, ownerless | MB_OKCANCEL | MB_ICONEXCLAMATION},
        {MB_YESNOCANCEL, ownerless | MB_YESNOCANCEL | MB_ICONEXCLAMATION},
        {MB_YESNO, ownerless | MB_YESNO | MB_ICONEXCLAMATION},
        {MB_ABORTRETRYIGNORE, ownerless | MB_ABORTRETRYIGNORE},
        {MB_RETRYCANCEL, ownerless | MB_RETRYCANCEL},
        {6, ownerless | 6},
        {MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2, ownerless | MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2},
        {MB_ICONHAND | MB_SYSTEMMODAL, ownerless | MB_ICONHAND | MB_SYSTEMMODAL},
    };
    CMessageBoxHandler box;
    for (const auto& row : rows) {
        Seen.boxFlags.clear();
        EXPECT_EQ(box.Show(nullptr, L"t", L"c", row.flags), IDRETRY);
        ASSERT_EQ(Seen.boxFlags.size(), 1u);
        EXPECT_EQ(Seen.boxFlags[0], row.shown) << std::hex << row.flags;
    }
    // Without an icon name the icon variant is the plain box.
    Seen.boxFlags.clear();
    box.ShowWithIcon(nullptr, L"t", L"c", MB_OK, nullptr);
    ASSERT_EQ(Seen.boxFlags.size(), 1u);
    EXPECT_EQ(Seen.boxFlags[0], ownerless | MB_ICONEXCLAMATION);
}

TEST_F(MessageDisplay, MessageBoxIconThatNoModuleHasIsInternalError)
{
    CMessageBoxHandler box;
    try {
        box.ShowWithIcon(nullptr, L"t", L"c", MB_OK, L"NO_SUCH_ICON_ANYWHERE");
        ADD_FAILURE() << "no internal error";
    } catch (CException* e) {
        auto* internal = dynamic_cast<CInternalError*>(e);
        ASSERT_NE(internal, nullptr);
        EXPECT_STREQ(internal->GetSourceFile(), L"Src/MessageHandlers");
        EXPECT_EQ(internal->GetLine(), 287);
        delete e;
    }
    EXPECT_TRUE(Seen.boxFlags.empty());
}

// The real platform call: without a desktop it fails at once, and that answer comes back.
TEST(MessageDisplayHeadless, MessageBoxReturnsThePlatformAnswer)
{
    wchar_t display[8];
    if (GetEnvironmentVariableW(L"DISPLAY", display, 8) != 0)
        GTEST_SKIP() << "a desktop is present; no real box is shown in tests";
    CMessageBoxHandler box;
    const int expected = MessageBoxW(nullptr, L"t", L"c", MB_OK);
    EXPECT_EQ(box.Show(nullptr, L"t", L"c", MB_OK), expected);
}

// ---- Event log --------------------------------------------------------------------------

// HKEY_LOCAL_MACHINE redirected to a key of this test, so registration writes stay here.
class CMachineKeySandbox {
public:
    CMachineKeySandbox()
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, Path);
        RegCreateKeyExW(HKEY_CURRENT_USER, Path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, key);
    }
    ~CMachineKeySandbox()
    {
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        RegCloseKey(key);
        RegDeleteTreeW(HKEY_CURRENT_USER, Path);
    }
    static constexpr const wchar_t* Path = L"Software\\ZelkorTests\\MessageHandlersMachine";
    HKEY key = nullptr;
};

std::wstring ExpectedEventMessageFile()
{
    wchar_t self[MAX_PATH + 1];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH + 1);
    std::wstring path(self, n);
    return path.substr(0, path.find_last_of(L'\\') + 1) + L"ZelkorEventSrc.dll";
}

TEST_F(MessageDisplay, EventLogRegistersOnceAndReportsTwoStrings)
{
    CMachineKeySandbox sandbox;
    {
        CEventLogMessageHandler eventLog;
        EXPECT_EQ(eventLog.Show(nullptr, L"first\ntext", L"Caption", MB_OKCANCEL | MB_DEFBUTTON2), IDCANCEL);
        EXPECT_EQ(eventLog.Show(nullptr, L"second", L"Other", MB_ICONHAND), IDOK);
        EXPECT_EQ(Seen.registrations, 1);
        EXPECT_EQ(Seen.registeredName, L"Zelkor");
        const std::vector<std::vector<std::wstring>> strings = {{L"Caption", L"first\ntext"}, {L"Other", L"second"}};
        EXPECT_EQ(Seen.eventStrings, strings);
        EXPECT_EQ(Seen.eventIds, (std::vector<DWORD>{1, 1}));
        EXPECT_EQ(Seen.eventTypes, (std::vector<WORD>{EVENTLOG_WARNING_TYPE, EVENTLOG_ERROR_TYPE}));
        EXPECT_EQ(Seen.deregistrations, 0);
    }
    EXPECT_EQ(Seen.deregistrations, 1);

    HKEY source = nullptr;
    ASSERT_EQ(RegOpenKeyExW(sandbox.key, L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Zelkor", 0,
                            KEY_READ, &source),
              ERROR_SUCCESS);
    wchar_t value[MAX_PATH * 2] = {};
    DWORD type = 0, size = sizeof(value);
    EXPECT_EQ(RegQueryValueExW(source, L"EventMessageFile", nullptr, &type, reinterpret_cast<BYTE*>(value), &size),
              ERROR_SUCCESS);
    RegCloseKey(source);
    EXPECT_EQ(type, DWORD(REG_SZ));
    const std::wstring expected = ExpectedEventMessageFile();
    EXPECT_EQ(std::wstring(value), expected);
    EXPECT_EQ(size, (expected.size() + 1) * 2); // terminator included
}

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
    EXPECT_TRUE(Seen.eventStrings.empty());
    EXPECT_EQ(Seen.deregistrations, 0);
}

TEST_F(MessageDisplay, EventLogRecordsExceptionsButNotUserOnes)
{
    CMachineKeySandbox sandbox;
    CEventLogMessageHandler eventLog;
    CUserException user;
    eventLog.HandleException(&user);
    EXPECT_TRUE(Seen.eventStrings.empty());
    EXPECT_EQ(Seen.registrations, 0);

    CLastErrorException failure(ERROR_ACCESS_DENIED);
    eventLog.HandleException(&failure);
    ASSERT_EQ(Seen.eventStrings.size(), 1u);
    const std::vector<std::wstring> strings = {L"Zelkor", failure.GetMessageText().GetText()};
    EXPECT_EQ(Seen.eventStrings[0], strings);
    EXPECT_EQ(Seen.eventTypes[0], EVENTLOG_ERROR_TYPE);
    EXPECT_TRUE(Seen.boxFlags.empty()); // nothing shown
}

// ---- Display through the thread's handler and without handler ---------------------------

TEST_F(MessageDisplay, ThreadHandlerTakesTheDisplay)
{
    CCapturingHandler capture;
    ThreadLogData.Get().Handler = &capture;
    EXPECT_EQ(GetMessageHandler(), &capture);
    EXPECT_EQ(ShowMessage(L"hello", MB_YESNO | MB_ICONQUESTION), IDNO);
    ASSERT_EQ(capture.texts.size(), 1u);
    EXPECT_EQ(capture.texts[0], L"hello");
    EXPECT_EQ(capture.captions[0], L"Zelkor");
    EXPECT_EQ(capture.flags[0], uint32_t(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(capture.owners[0], nullptr);
    EXPECT_EQ(GetMessageTitle(), CUnicodeString(L"Zelkor"));

    // Another thread has no handler of its own.
    CMessageHandler* other = nullptr;
    std::thread([&] { other = GetMessageHandler(); }).join();
    EXPECT_NE(other, &capture);
    EXPECT_NE(other, nullptr);
}

TEST_F(MessageDisplay, ProcessExceptionReportsThroughTheHandler)
{
    CCapturingHandler capture;
    ThreadLogData.Get().Handler = &capture;
    CLastErrorException failure(ERROR_FILE_NOT_FOUND);
    ProcessException(&failure);
    ASSERT_EQ(capture.texts.size(), 1u);
    EXPECT_EQ(capture.texts[0], failure.GetMessageText().GetText());
    ProcessException(nullptr); // nothing to report
    EXPECT_EQ(capture.texts.size(), 1u);
}

TEST_F(MessageDisplay, DisplaysOfThreadsDoNotOverlap)
{
    class CSlowHandler : public CMessageHandler {
    public:
        int32_t Show(HWND, const wchar_t*, const wchar_t*, uint32_t) override
        {
            const int now = ++inside;
            int seen = most.load();
            while (now > seen && !most.compare_exchange_weak(seen, now)) {
            }
            Sleep(20);
            --inside;
            return IDOK;
        }
        std::atomic<int> inside{0}, most{0};
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
    EXPECT_EQ(slow.most.load(), 1);
}

TEST_F(MessageDisplay, WithoutHandlerWritesTheOutputAsIs)
{
    CTempFile file;
    HANDLE saved = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, file.handle);
    const int answer = ShowWithoutHandler(L"x\ny", MB_YESNO | MB_DEFBUTTON2);
    SetStdHandle(STD_OUTPUT_HANDLE, nullptr);
    const int boxAnswer = ShowWithoutHandler(L"boxed", MB_OKCANCEL);
    SetStdHandle(STD_OUTPUT_HANDLE, saved);

    EXPECT_EQ(answer, IDNO);
    EXPECT_EQ(file.Read(), "x\ny"); // no line break added
    EXPECT_EQ(boxAnswer, IDRETRY);
    ASSERT_EQ(Seen.boxTexts.size(), 1u);
    EXPECT_EQ(Seen.boxTexts[0], L"boxed");
    EXPECT_EQ(Seen.boxCaptions[0], L"Zelkor");
    EXPECT_EQ(Seen.boxFlags[0], UINT(MB_OKCANCEL)); // no icon or style added
    EXPECT_EQ(Seen.boxOwners[0], nullptr);
}

// ---- Choice of the handler, in processes of their own -----------------------------------

namespace {

std::wstring HostPath(const wchar_t* variant)
{
    wchar_t self[MAX_PATH + 1];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH + 1);
    std::wstring path(self, n);
    return path.substr(0, path.find_last_of(L'\\') + 1) + L"MessageHost" + variant + L".exe";
}

// Runs a host with the given standard output (null: none) and returns its exit code.
DWORD RunHost(const wchar_t* variant, HANDLE output, const wchar_t* argument = L"")
{
    std::wstring command = L"\"" + HostPath(variant) + L"\" " + argument;
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
    const struct {
        const wchar_t* variant;
        bool withOutput;
        DWORD handler; // 1 message box, 2 console, 3 event log
        const char* written;
    } rows[] = {
        {L"Plain", true, 2, "a\r\nb\r\n"},
        {L"Plain", false, 1, nullptr},
        {L"MessageBox", true, 1, ""},
        {L"EventLog", true, 3, ""},
        {L"EventLog", false, 3, nullptr},
    };
    for (const auto& row : rows) {
        CTempFile file(std::string(), true);
        EXPECT_EQ(RunHost(row.variant, row.withOutput ? file.handle : nullptr), row.handler)
            << testing::PrintToString(std::wstring(row.variant)) << " output " << row.withOutput;
        if (row.written) {
            EXPECT_EQ(file.Read(), row.written) << testing::PrintToString(std::wstring(row.variant));
        }
    }
}

TEST(MessageHandlerChoice, PipeOutputTakesTheConsoleHandler)
{
    HANDLE readEnd, writeEnd;
    SECURITY_ATTRIBUTES security = {sizeof(security), nullptr, TRUE};
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &security, 0));
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    EXPECT_EQ(RunHost(L"Plain", writeEnd), 2u);
    CloseHandle(writeEnd);
    char buffer[64];
    DWORD read = 0;
    ReadFile(readEnd, buffer, sizeof(buffer), &read, nullptr);
    CloseHandle(readEnd);
    EXPECT_EQ(std::string(buffer, read), "a\r\nb\r\n");
}

TEST(MessageHandlerChoice, ShowingAfterTheHandlersAreGone)
{
    CTempFile file(std::string(), true);
    EXPECT_EQ(RunHost(L"Plain", file.handle, L"atexit"), 2u);
    // The console handler added line breaks; the display without handler adds none.
    EXPECT_EQ(file.Read(), "a\r\nb\r\nafter");
}

// The event-log host registers its source in the machine's registry (this prefix's).
TEST(MessageHandlerChoice, EventLogHostRegistersItsMessageFile)
{
    const wchar_t* key = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Zelkor";
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, key);
    EXPECT_EQ(RunHost(L"EventLog", nullptr), 3u);
    wchar_t value[MAX_PATH * 2] = {};
    DWORD size = sizeof(value);
    ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, key, L"EventMessageFile", RRF_RT_REG_SZ, nullptr, value, &size),
              ERROR_SUCCESS);
    const std::wstring host = HostPath(L"EventLog");
    EXPECT_EQ(std::wstring(value), host.substr(0, host.find_last_of(L'\\') + 1) + L"ZelkorEventSrc.dll");
}
