// Message display and the three message handlers.
#include "MessageHandlers.h"

#include <algorithm>
#include <atomic>
#include <cwchar>

#include "Alloc.h"
#include "Errors.h"
#include "File.h"
#include "FileSystem.h"
#include "GuardedStatic.h"
#include "RegistryKey.h"
#include "ResourceInfo.h"
#include "StartupOrder.h"
#include "String.h"
#include "Time.h"
#include "ThreadData.h"
#include "VersionInfo.h"
#include "Zelkor.h"

namespace Zelkor {

namespace {
constexpr int32_t ConsolePieceLength = 16384;
constexpr const wchar_t* EventSourceKeyPath = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
constexpr const wchar_t* EventMessageFileName = L"ZelkorEventSrc.dll";

// Whether the process has chosen its handler. Gone is final: the handlers were destroyed at
// unload and displays fall back to ShowWithoutHandler. Written under MessageHandlerLock;
// atomic only because ShowMessage peeks at it before taking the lock.
enum class HandlerState : int { NotChosen, Chosen, Gone };
std::atomic<HandlerState> State{HandlerState::NotChosen};
CMessageHandler* ChosenHandler = nullptr;

MessageHandlersInternal::CPlatformCalls Calls;
} // namespace

ZELKOR_INIT(ZELKOR_ROW_LOCKS) CCriticalSection MessageHandlerLock;
ZELKOR_INIT(ZELKOR_ROW_LOCKS) CCriticalSection TitleLock;
ZELKOR_INIT(ZELKOR_ROW_LOCKS) CCriticalSection ConsoleLock;
ZELKOR_INIT(ZELKOR_ROW_LOCKS) CCriticalSection EventLogLock;

namespace {
// What the failure operations below need for a report. ShowMessage works from the moment its
// locks exist until they go (without handlers it shows through ShowWithoutHandler), so the table
// is offered for exactly that time, right after the locks of this facility.
const CReportServices ReportServicesTable{ShowMessage, ProcessException, LoadMessageText, GetUserSetting};

class CReportServicesRegistration {
public:
    CReportServicesRegistration() { SetReportServices(&ReportServicesTable); }
    ~CReportServicesRegistration() { SetReportServices(nullptr); }
    CReportServicesRegistration(const CReportServicesRegistration&) = delete;
    CReportServicesRegistration& operator=(const CReportServicesRegistration&) = delete;
};
ZELKOR_INIT(ZELKOR_ROW_LOCKS + 4) CReportServicesRegistration ReportServicesRegistration;
} // namespace

namespace {
ZELKOR_INIT(ZELKOR_ROW_CONSTANT_STRINGS + 22)
const CUnicodeString MessageTitle = GuardedInit([] { return CUnicodeString(L"Zelkor"); });
} // namespace

ZELKOR_INIT(ZELKOR_ROW_SERVICES + 0) CMessageBoxHandler MessageBoxHandler;
ZELKOR_INIT(ZELKOR_ROW_SERVICES + 1) CConsoleMessageHandler ConsoleMessageHandler;
ZELKOR_INIT(ZELKOR_ROW_SERVICES + 2) CEventLogMessageHandler EventLogMessageHandler;

const MessageAnswerRow MessageAnswerTable[6] = {
    {MB_OK, EVENTLOG_INFORMATION_TYPE, {IDOK, IDOK, IDOK}},
    {MB_OKCANCEL, EVENTLOG_WARNING_TYPE, {IDOK, IDCANCEL, IDOK}},
    {MB_YESNO, EVENTLOG_INFORMATION_TYPE, {IDYES, IDNO, IDYES}},
    {MB_YESNOCANCEL, EVENTLOG_INFORMATION_TYPE, {IDYES, IDNO, IDCANCEL}},
    {MB_RETRYCANCEL, EVENTLOG_ERROR_TYPE, {IDRETRY, IDCANCEL, IDRETRY}},
    {MB_ABORTRETRYIGNORE, EVENTLOG_ERROR_TYPE, {IDABORT, IDRETRY, IDIGNORE}},
};

namespace {

const MessageAnswerRow* FindAnswerRow(uint32_t flags)
{
    for (const MessageAnswerRow& row : MessageAnswerTable)
        if (row.ButtonSet == (flags & MB_TYPEMASK))
            return &row;
    return nullptr;
}

// The platform's file type without the remote bit; 0 for no handle or no known type.
uint32_t OutputFileType(HANDLE output)
{
    if (output == nullptr || output == INVALID_HANDLE_VALUE)
        return FILE_TYPE_UNKNOWN;
    return GetFileType(output) & ~uint32_t(FILE_TYPE_REMOTE);
}

bool IsUsableOutputType(uint32_t fileType)
{
    return fileType == FILE_TYPE_DISK || fileType == FILE_TYPE_CHAR || fileType == FILE_TYPE_PIPE;
}

bool IsStaticHandler(const CMessageHandler* handler)
{
    return handler == &MessageBoxHandler || handler == &ConsoleMessageHandler || handler == &EventLogMessageHandler;
}

int CallMessageBox(HWND window, const wchar_t* text, const wchar_t* caption, uint32_t flags)
{
    return (Calls.ShowBox ? Calls.ShowBox : MessageBoxW)(window, text, caption, flags);
}

// Boxes without an icon of their own get the exclamation mark, except those whose buttons
// already say what happened (abort/retry/ignore, retry/cancel, cancel/try/continue).
uint32_t WithDefaultIcon(uint32_t flags)
{
    const uint32_t buttons = flags & MB_TYPEMASK;
    if ((flags & MB_ICONMASK) == 0 &&
        (buttons == MB_OK || buttons == MB_OKCANCEL || buttons == MB_YESNOCANCEL || buttons == MB_YESNO))
        flags |= MB_ICONEXCLAMATION;
    return flags;
}

// Without a visible owner the box must come to the front by itself, or it may open hidden
// behind other windows while the caller waits for it.
uint32_t ExtraStyle(HWND window)
{
    if (window != nullptr) {
        HWND popup = GetLastActivePopup(window);
        if (popup != nullptr && IsWindowVisible(popup))
            return 0;
    }
    return MB_TASKMODAL | MB_SETFOREGROUND | MB_TOPMOST;
}

// Each line feed not preceded by a carriage return gets one, and the text ends with both.
CUnicodeString WithLineBreaks(const wchar_t* text)
{
    int32_t length = 0, bare = 0;
    for (; text[length] != 0; ++length)
        if (text[length] == L'\n' && (length == 0 || text[length - 1] != L'\r'))
            ++bare;
    CUnicodeString result;
    wchar_t* out = result.GetBuffer(length + bare + 2);
    int32_t n = 0;
    for (int32_t i = 0; i < length; ++i) {
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r'))
            out[n++] = L'\r';
        out[n++] = text[i];
    }
    out[n++] = L'\r';
    out[n++] = L'\n';
    out[n] = 0;
    result.ReleaseBuffer(n);
    return result;
}

void WriteAnsi(HANDLE output, const wchar_t* text)
{
    const CString bytes = CUnicodeString(text).ToMultiByte(CP_ACP);
    DWORD written = 0;
    WriteFile(output, bytes.GetText(), DWORD(bytes.GetLength()), &written, nullptr);
}

// The caption is read before MessageHandlerLock is taken (lock order). Once the handlers are
// gone it is not needed, and the string may already be destroyed at that point of unloading.
CUnicodeString CaptionForDisplay()
{
    if (State.load(std::memory_order_relaxed) == HandlerState::Gone)
        return CUnicodeString();
    CCriticalSectionLock lock(TitleLock);
    return MessageTitle;
}

} // namespace

int32_t GetMessageTableAnswer(uint32_t flags)
{
    const MessageAnswerRow* row = FindAnswerRow(flags);
    if (row == nullptr)
        return IDABORT;
    switch (flags & MB_DEFMASK) {
    case MB_DEFBUTTON2: return row->Answers[1];
    case MB_DEFBUTTON3: return row->Answers[2];
    default: return row->Answers[0];
    }
}

// ---- Handler base -----------------------------------------------------------------------

CMessageHandler::~CMessageHandler()
{
    CCriticalSectionLock lock(MessageHandlerLock);
    const HandlerState state = State.load(std::memory_order_relaxed);
    if ((state == HandlerState::Chosen && ChosenHandler == this) ||
        (state == HandlerState::NotChosen && IsStaticHandler(this))) {
        ChosenHandler = nullptr;
        State.store(HandlerState::Gone, std::memory_order_relaxed);
    }
}

int32_t CMessageHandler::ShowWithIcon(HWND window, const wchar_t* text, const wchar_t* caption, uint32_t flags,
                                      const wchar_t*)
{
    return Show(window, text, caption, flags);
}

void CMessageHandler::HandleException(CException* e)
{
    CErrorScope scope(CErrorScope::Reporting);
    e->Report();
}

// ---- Message box ------------------------------------------------------------------------

int32_t CMessageBoxHandler::Show(HWND window, const wchar_t* text, const wchar_t* caption, uint32_t flags)
{
    CMemoryManagerSwitcher useDefault(&DefaultMemoryManager);
    return CallMessageBox(window, text, caption, ExtraStyle(window) | WithDefaultIcon(flags));
}

int32_t CMessageBoxHandler::ShowWithIcon(HWND window, const wchar_t* text, const wchar_t* caption, uint32_t flags,
                                         const wchar_t* iconName)
{
    if (iconName == nullptr)
        return Show(window, text, caption, flags);
    CMemoryManagerSwitcher useDefault(&DefaultMemoryManager);
    HMODULE iconModule = FindIconModule(iconName);
    if (!Check(iconModule != nullptr, CheckSite::MessageIconModuleNotFound))
        return Show(window, text, caption, flags);
    MSGBOXPARAMSW box = {};
    box.cbSize = sizeof(box);
    box.hwndOwner = window;
    box.hInstance = iconModule;
    box.lpszText = text;
    box.lpszCaption = caption;
    constexpr uint32_t IconBits = MB_ICONHAND | MB_ICONQUESTION | MB_ICONEXCLAMATION | MB_ICONASTERISK;
    box.dwStyle = ExtraStyle(window) | WithDefaultIcon((flags & ~IconBits) | MB_USERICON);
    box.lpszIcon = iconName;

    // The framework module's manifest selects the common controls that draw the box.
    ACTCTXW manifest = {};
    manifest.cbSize = sizeof(manifest);
    manifest.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    manifest.hModule = GetZelkorModuleHandle();
    manifest.lpResourceName = MAKEINTRESOURCEW(2);
    HANDLE context = CreateActCtxW(&manifest);
    ULONG_PTR cookie = 0;
    const bool active = context != INVALID_HANDLE_VALUE && ActivateActCtx(context, &cookie);

    const int answer = (Calls.ShowBoxIndirect ? Calls.ShowBoxIndirect : MessageBoxIndirectW)(&box);
    // Deactivating must not hide why a box failed.
    const DWORD error = GetLastError();
    if (active)
        DeactivateActCtx(0, cookie);
    if (context != INVALID_HANDLE_VALUE)
        ReleaseActCtx(context);
    SetLastError(error);
    return answer;
}

// ---- Console ----------------------------------------------------------------------------

CConsoleMessageHandler::CConsoleMessageHandler() : CConsoleMessageHandler(GetStdHandle(STD_OUTPUT_HANDLE), 0)
{
    fileType = OutputFileType(output);
}

CConsoleMessageHandler::CConsoleMessageHandler(HANDLE output, uint32_t fileType) : output(output), fileType(fileType)
{
}

int32_t CConsoleMessageHandler::Show(HWND, const wchar_t* text, const wchar_t*, uint32_t flags)
{
    CCriticalSectionLock lock(ConsoleLock);
    if (!encodingDecided) {
        encodingDecided = true;
        DecideEncoding();
    }
    if (!Check(text != nullptr, CheckSite::ConsoleNullText))
        text = L"";
    Write(WithLineBreaks(text));
    return GetMessageTableAnswer(flags);
}

// A redirected file that already holds UTF-16 text (it starts with the byte-order mark) is
// continued in UTF-16; everything else gets the ANSI code page. A console takes UTF-16 through
// WriteConsoleW.
void CConsoleMessageHandler::DecideEncoding()
{
    if (fileType != FILE_TYPE_DISK) {
        writeAsAnsi = fileType != FILE_TYPE_CHAR;
        return;
    }
    writeAsAnsi = true;
    LARGE_INTEGER zero = {}, position = {};
    if (!SetFilePointerEx(output, zero, &position, FILE_CURRENT) || position.QuadPart == 0)
        return;
    if (SetFilePointerEx(output, zero, nullptr, FILE_BEGIN)) {
        unsigned char mark[2] = {};
        DWORD read = 0;
        if (ReadFile(output, mark, 2, &read, nullptr) && read == 2 && mark[0] == 0xFF && mark[1] == 0xFE)
            writeAsAnsi = false;
    }
    SetFilePointerEx(output, position, nullptr, FILE_BEGIN);
}

// Write results are ignored: there is nowhere left to report a failed display.
void CConsoleMessageHandler::Write(const CUnicodeString& text)
{
    DWORD written = 0;
    switch (fileType) {
    case FILE_TYPE_UNKNOWN: DebugTrace(L"%s", text.GetText()); break;
    case FILE_TYPE_CHAR:
        // The console refuses very long single writes.
        for (int32_t offset = 0; offset < text.GetLength(); offset += ConsolePieceLength) {
            const int32_t piece = std::min(ConsolePieceLength, text.GetLength() - offset);
            (Calls.WriteToConsole ? Calls.WriteToConsole : WriteConsoleW)(output, text.GetText() + offset, DWORD(piece),
                                                                          &written, nullptr);
        }
        break;
    default:
        if (writeAsAnsi)
            WriteAnsi(output, text.GetText());
        else
            WriteFile(output, text.GetText(), DWORD(text.GetLength()) * 2, &written, nullptr);
        break;
    }
}

// ---- Event log --------------------------------------------------------------------------

CEventLogMessageHandler::~CEventLogMessageHandler()
{
    if (source != nullptr) {
        (Calls.Deregister ? Calls.Deregister : DeregisterEventSource)(source);
        source = nullptr;
    }
}

int32_t CEventLogMessageHandler::Show(HWND, const wchar_t* text, const wchar_t* caption, uint32_t flags)
{
    uint16_t eventType;
    switch (flags & MB_ICONMASK) {
    case MB_ICONHAND: eventType = EVENTLOG_ERROR_TYPE; break;
    case MB_ICONQUESTION:
    case MB_ICONASTERISK: eventType = EVENTLOG_INFORMATION_TYPE; break;
    case MB_ICONEXCLAMATION: eventType = EVENTLOG_WARNING_TYPE; break;
    default: {
        const MessageAnswerRow* row = FindAnswerRow(flags);
        eventType = row ? row->EventType : EVENTLOG_INFORMATION_TYPE;
        break;
    }
    }
    Record(eventType, caption, text);
    return GetMessageTableAnswer(flags);
}

void CEventLogMessageHandler::HandleException(CException* e)
{
    if (dynamic_cast<CUserException*>(e) != nullptr)
        return;
    const CUnicodeString caption = sourceName.IsEmpty() ? GetMessageTitle() : sourceName;
    const CUnicodeString text = e->GetMessageText();
    Record(EVENTLOG_ERROR_TYPE, caption, text);
}

void CEventLogMessageHandler::Record(uint16_t eventType, const wchar_t* caption, const wchar_t* text)
{
    CCriticalSectionLock lock(EventLogLock);
    if (source == nullptr)
        RegisterSource();
    if (source == nullptr)
        return; // the platform refused the source; nothing to report to
    LPCWSTR strings[2] = {caption ? caption : L"", text ? text : L""};
    (Calls.Report ? Calls.Report : ReportEventW)(source, eventType, 0, 1, nullptr, 2, 0, strings, nullptr);
}

// The event viewer renders event 1 through the message file named in the source's key. Without
// the rights to write that key the source is registered anyway: the events then show raw.
void CEventLogMessageHandler::RegisterSource()
{
    // A copy: another thread may set a new title meanwhile.
    const CUnicodeString title = GetMessageTitle(); // NOLINT(performance-unnecessary-copy-initialization)
    CRegistryKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, (CUnicodeString(EventSourceKeyPath) + title).GetText(), CRegistryKey::Write)) {
        const CUnicodeString directory = GetZelkorModuleDirectory();
        const CUnicodeString file = StripLongPrefix(MergePath(directory, EventMessageFileName));
        key.SetStringValue(L"EventMessageFile", file.GetText(), uint32_t(file.GetLength() + 1) * 2);
    }
    if (!Check(source == nullptr, CheckSite::EventSourceAlreadyRegistered))
        return;
    source = (Calls.RegisterSource ? Calls.RegisterSource : RegisterEventSourceW)(nullptr, title.GetText());
    key.Close();
}

// ---- Display ----------------------------------------------------------------------------

const CUnicodeString& GetMessageTitle()
{
    CCriticalSectionLock lock(TitleLock);
    return MessageTitle;
}

CMessageHandler* ChooseDefaultHandler()
{
    CVersionInfo version(ModuleFileName(nullptr).GetText());
    const CUnicodeString choice = version.GetStringValue(L"MessageHandler");
    if (_wcsicmp(choice.GetText(), L"EVENTLOG") == 0)
        return &EventLogMessageHandler;
    if (_wcsicmp(choice.GetText(), L"MESSAGEBOX") == 0)
        return &MessageBoxHandler;
    if (_wcsicmp(choice.GetText(), L"CONSOLE") == 0)
        return &ConsoleMessageHandler;
    if (IsUsableOutputType(OutputFileType(GetStdHandle(STD_OUTPUT_HANDLE))))
        return &ConsoleMessageHandler;
    return &MessageBoxHandler;
}

CMessageHandler* GetMessageHandler()
{
    CCriticalSectionLock lock(MessageHandlerLock);
    if (State.load(std::memory_order_relaxed) == HandlerState::Gone)
        return nullptr;
    if (CMessageHandler* own = ThreadLogData.Get().Handler)
        return own;
    if (State.load(std::memory_order_relaxed) == HandlerState::NotChosen) {
        ChosenHandler = ChooseDefaultHandler();
        State.store(HandlerState::Chosen, std::memory_order_relaxed);
    }
    return ChosenHandler;
}

int32_t ShowWithoutHandler(const wchar_t* text, uint32_t flags)
{
    if (text == nullptr)
        text = L"";
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (IsUsableOutputType(OutputFileType(output))) {
        WriteAnsi(output, text);
        return GetMessageTableAnswer(flags);
    }
    // A literal caption: the title string may already be destroyed when this runs at unload.
    return CallMessageBox(nullptr, text, L"Zelkor", flags);
}

int32_t ShowMessage(const wchar_t* text, uint32_t flags)
{
    CMemoryManagerSwitcher useDefault(&DefaultMemoryManager);
    const CUnicodeString caption = CaptionForDisplay();
    CCriticalSectionLock lock(MessageHandlerLock);
    WriteToMessageLog(text);
    CMessageHandler* handler = GetMessageHandler();
    if (handler == nullptr)
        return ShowWithoutHandler(text, flags);
    return handler->Show(nullptr, text, caption.GetText(), flags);
}

void ProcessException(CException* e)
{
    if (e == nullptr)
        return;
    CCriticalSectionLock lock(MessageHandlerLock);
    if (dynamic_cast<CUserException*>(e) == nullptr)
        WriteToMessageLog(e->GetMessageText().GetText());
    if (CMessageHandler* handler = GetMessageHandler()) {
        handler->HandleException(e);
        return;
    }
    // After the handlers are gone the exception is still reported, through ShowWithoutHandler.
    CErrorScope scope(CErrorScope::Reporting);
    e->Report();
}

namespace {
// Another process appending its line holds the write share for a moment. Without a retry the
// second writer's line would be lost. The moment can be long on a loaded machine (a holder
// descheduled between its open and its close: 200 ms lost one line in a thousand there), so the
// wait is bounded by seconds, not by a typical write; it is only ever spent while another process
// holds the file, although the caller holds MessageHandlerLock meanwhile.
constexpr ULONGLONG LogSharingRetryMilliseconds = 2000;
constexpr DWORD LogRetryIntervalMilliseconds = 2;

void OpenMessageLog(CFile& log, const CUnicodeString& path)
{
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        try {
            log.Open(path, FM_Write | FM_DenyWrite | FM_Create | FM_NoTruncate, FILE_ATTRIBUTE_NORMAL);
            return;
        } catch (CFileException* e) {
            if (e->GetErrorCode() != ERROR_SHARING_VIOLATION || GetTickCount64() - start >= LogSharingRetryMilliseconds)
                throw;
            delete e;
        }
        Sleep(LogRetryIntervalMilliseconds);
    }
}

// "HH:MM:SS ProcessID:<pid> <text>" and CR LF, in the ANSI code page.
CString MessageLogRecord(const wchar_t* text)
{
    FILETIME now, local;
    GetSystemTimeAsFileTime(&now);
    if (!CheckLastError(FileTimeToLocalFileTime(&now, &local) != FALSE, CheckSite::TimeLocalFileTime))
        local = now;
    const int64_t localTime = FileTimeToValue(local);
    wchar_t process[32];
    swprintf(process, 32, L"ProcessID:%lu ", static_cast<unsigned long>(GetCurrentProcessId()));
    CUnicodeString record = FormatTime(L"%H:%M:%S ", localTime);
    record += process;
    record += text != nullptr ? text : L"";
    record += L"\r\n";
    return record.ToMultiByte(CP_ACP);
}
} // namespace

void WriteToMessageLog(const wchar_t* text)
{
    // The log must never disturb the display it accompanies: every failure loses the line.
    try {
        bool enabled = false;
        if (!GetMachineSetting(L"WriteMessageLog").ParseBool(enabled) || !enabled)
            return;
        const CUnicodeString path = MergePath(GetZelkorModuleDirectory(), L"ZelkorLog.txt");
        CFile log;
        OpenMessageLog(log, path);
        log.Seek(0, FILE_END);
        const CString record = MessageLogRecord(text);
        log.Write(record.GetText(), record.GetLength());
        log.Close();
    } catch (CException* e) {
        delete e;
    }
}

// ---- Test seams -------------------------------------------------------------------------

namespace MessageHandlersInternal {

CPlatformCalls SetPlatformCallsForTest(const CPlatformCalls& calls)
{
    CCriticalSectionLock lock(MessageHandlerLock);
    const CPlatformCalls previous = Calls;
    Calls = calls;
    return previous;
}

} // namespace MessageHandlersInternal

} // namespace Zelkor
