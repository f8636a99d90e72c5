// Display of messages. Every text the framework shows to a person goes through ShowMessage,
// which logs it and hands it to the process's message handler: a message box, the standard
// output or the event log, chosen once per process from the host executable's version value
// "MessageHandler" or else from the kind of the standard output. A thread may set its own
// handler (ThreadLogData); it is used instead while set.
//
// Flags and answers are the platform's message-box values, so callers can ask OK/Cancel
// questions whatever the medium; handlers that cannot ask answer from MessageAnswerTable.
//
// Locks: TitleLock is taken and released before MessageHandlerLock; ConsoleLock and
// EventLogLock are taken only inside MessageHandlerLock. MessageHandlerLock is re-entrant, so
// a failure raised while displaying on a thread may display again.
//
// Lifetime: the three handlers are static objects destroyed at unload; from then on
// ShowMessage writes to the standard output or shows a plain box (ShowWithoutHandler).
#pragma once

#include <windows.h>

#include <cstdint>

#include "Lock.h"
#include "UnicodeString.h"

namespace Zelkor {

class CException;

struct MessageAnswerRow {
    uint32_t ButtonSet; // flags & 0xF
    uint16_t EventType; // EVENTLOG_*_TYPE of the event-log handler
    int32_t Answers[3]; // default button first, second (0x100), third (0x200)
};
extern const MessageAnswerRow MessageAnswerTable[6];

// The answer a handler that cannot ask gives for these flags; 3 for an unknown button set.
int32_t GetMessageTableAnswer(uint32_t flags);

class CMessageHandler {
public:
    CMessageHandler() = default;
    // When this is the chosen handler, or nothing was chosen yet and this is one of the static
    // handlers, the process is left without handler.
    virtual ~CMessageHandler();
    CMessageHandler(const CMessageHandler&) = delete;
    CMessageHandler& operator=(const CMessageHandler&) = delete;

    virtual int32_t Show(HWND window, const wchar_t* text, const wchar_t* caption, uint32_t flags) = 0;
    // Ignores the icon unless the handler can show one.
    virtual int32_t ShowWithIcon(HWND window, const wchar_t* text, const wchar_t* caption, uint32_t flags,
                                 const wchar_t* iconName);
    // Reports e (its own Report) inside a reporting error scope. The caller deletes e.
    virtual void HandleException(CException* e);
};

class CMessageBoxHandler : public CMessageHandler {
public:
    int32_t Show(HWND window, const wchar_t* text, const wchar_t* caption, uint32_t flags) override;
    // iconName names an icon group of a resource module; the box is shown in the activation
    // context of the framework module's manifest when it has one.
    int32_t ShowWithIcon(HWND window, const wchar_t* text, const wchar_t* caption, uint32_t flags,
                         const wchar_t* iconName) override;
};

// Writes to a file, pipe or console; with no output at all, to the debugger output. A disk
// file that already starts with a UTF-16 byte-order mark gets UTF-16, every other file or pipe
// gets the ANSI code page.
class CConsoleMessageHandler : public CMessageHandler {
public:
    CConsoleMessageHandler(); // the standard output
    // output with its file type (0 none, 1 disk, 2 character device, 3 pipe).
    CConsoleMessageHandler(HANDLE output, uint32_t fileType);
    int32_t Show(HWND window, const wchar_t* text, const wchar_t* caption, uint32_t flags) override;

private:
    void DecideEncoding();
    void Write(const CUnicodeString& text);

    HANDLE output;
    uint32_t fileType;
    bool writeAsAnsi = true;
    bool encodingDecided = false;
};

// Reports to the Windows event log under the source "Zelkor", registering the source (and its
// event-message file "ZelkorEventSrc.dll" beside the framework module) on the first event.
class CEventLogMessageHandler : public CMessageHandler {
public:
    CEventLogMessageHandler() = default;
    ~CEventLogMessageHandler() override; // deregisters the source
    int32_t Show(HWND window, const wchar_t* text, const wchar_t* caption, uint32_t flags) override;
    // Records the exception's text as an error event; nothing is shown. User exceptions are
    // not recorded.
    void HandleException(CException* e) override;

private:
    void Record(uint16_t eventType, const wchar_t* caption, const wchar_t* text);
    void RegisterSource();

    HANDLE source = nullptr;
    CUnicodeString sourceName;
};

extern CCriticalSection MessageHandlerLock; // the choice, every display, ProcessException
extern CCriticalSection TitleLock;          // the caption
extern CCriticalSection ConsoleLock;        // the console handler's output
extern CCriticalSection EventLogLock;       // the event source

extern CMessageBoxHandler MessageBoxHandler;
extern CConsoleMessageHandler ConsoleMessageHandler;
extern CEventLogMessageHandler EventLogMessageHandler;

// Logs text, then shows it through the handler; returns the answer (IDOK, IDCANCEL, ...).
int32_t ShowMessage(const wchar_t* text, uint32_t flags);
// The caption of every message: "Zelkor".
const CUnicodeString& GetMessageTitle();
// The calling thread's own handler when set, else the process's (chosen on first use); null
// once the handlers are gone.
CMessageHandler* GetMessageHandler();
// From the version value "MessageHandler" of the process's executable ("EventLog",
// "MessageBox", "Console", any case), else the console handler when the standard output is a
// file, pipe or character device, else the message box.
CMessageHandler* ChooseDefaultHandler();
// The display once the handlers are gone: ANSI text to the standard output, else a plain box.
int32_t ShowWithoutHandler(const wchar_t* text, uint32_t flags);
// Logs and reports an exception that cannot propagate; the caller deletes it afterwards.
void ProcessException(CException* e);
// Appends text to the message log when the machine setting "WriteMessageLog" is on. Called
// with MessageHandlerLock held; never fails towards the caller.
void WriteToMessageLog(const wchar_t* text);

namespace MessageHandlersInternal {

// The platform calls behind the handlers, replaceable by tests so that no real box is shown
// and writes can be observed. Null members mean the platform's own function.
struct CPlatformCalls {
    int(WINAPI* ShowBox)(HWND, LPCWSTR, LPCWSTR, UINT) = nullptr;                        // MessageBoxW
    int(WINAPI* ShowBoxIndirect)(const MSGBOXPARAMSW*) = nullptr;                        // MessageBoxIndirectW
    BOOL(WINAPI* WriteToConsole)(HANDLE, const VOID*, DWORD, LPDWORD, LPVOID) = nullptr; // WriteConsoleW
    HANDLE(WINAPI* RegisterSource)(LPCWSTR, LPCWSTR) = nullptr;                          // RegisterEventSourceW
    BOOL(WINAPI* Report)(HANDLE, WORD, WORD, DWORD, PSID, WORD, DWORD, LPCWSTR*, LPVOID) = nullptr; // ReportEventW
    BOOL(WINAPI* Deregister)(HANDLE) = nullptr; // DeregisterEventSource
};
// For tests only; returns the previous calls.
CPlatformCalls SetPlatformCallsForTest(const CPlatformCalls& calls);

} // namespace MessageHandlersInternal

} // namespace Zelkor
