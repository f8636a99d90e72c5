// Failure entry points of the framework. Internal faults (violated checks) go through
// GenerateInternalError with the source path and line of the check; failures of the
// environment go through the Throw* operations. Exceptions are thrown as pointers to heap
// objects and caught as CException*; whoever catches one reports and deletes it.
//
// While a thread suppresses exceptions (module load and unload), GenerateInternalError,
// ThrowLastErrorException and ThrowCheckException show their text at once, mark the thread's
// ErrorShown flag and return; memory and file exceptions are always thrown.
#pragma once

#include <cstdint>

#include "Alloc.h"
#include "CheckSites.h"
#include "UnicodeString.h"

namespace Zelkor {

class CMessageName;
struct CErrorInfo;

enum class FailureKind : uint32_t {
    Assert = 0,
    AssertLastError = 1,
    Presume = 2,
    PresumeLastError = 3,
};

// What went wrong with a file; each kind has its own message. A kind above DirNotEmpty is
// shown as Generic.
enum class FileErrorKind : uint32_t {
    None = 0,
    Generic = 1,
    NotFound = 2,
    BadPath = 3,
    TooManyOpenFiles = 4,
    AccessDenied = 5,
    InvalidFile = 6,
    RemoveCurrentDir = 7,
    DirectoryFull = 8,
    BadSeek = 9,
    HardIO = 10,
    SharingViolation = 11,
    LockViolation = 12,
    DiskFull = 13,
    EndOfFile = 14,
    AlreadyExists = 15,
    DirNotEmpty = 16,
};

// Whether a failure first stops in a debugger. 0 is "not read yet" in the caches.
enum class StopMode : uint32_t {
    Never = 1,  // nothing
    Debug = 2,  // a breakpoint trap when a debugger is attached
    Always = 3, // a breakpoint trap in any case
};

class CException : public CAllocatedOn<RuntimeHeap> {
public:
    virtual ~CException() = default;
    // Built only when asked for: message texts, templates, system texts.
    virtual CUnicodeString GetMessageText() const = 0;
    // Shows the text through ShowMessage without buttons beyond OK.
    virtual void Report();
};

// Comes from a static reserve of 64 objects and never allocates, so that exhausted memory can
// always be reported. All 64 in use at once ends the process.
class CMemoryException : public CException {
public:
    CMemoryException() = default;
    static void* operator new(size_t size);
    // Reports a block that is not one of the reserve where failures that cannot propagate go.
    static void operator delete(void* block) noexcept; // NOLINT(bugprone-exception-escape): see Errors.cpp

    CUnicodeString GetMessageText() const override; // "Not enough memory!"
};

// A message of a message module with up to three parameters (%0, %1, %2).
class CCheckException : public CException {
public:
    CCheckException(const CMessageName& messageName, const CUnicodeString& param0, const CUnicodeString& param1,
                    const CUnicodeString& param2);

    const CMessageName& GetMessageName() const { return *messageName; }
    const CUnicodeString& GetParam(int32_t index) const { return params[index]; }
    CUnicodeString GetMessageText() const override;

private:
    const CMessageName* messageName; // a static object
    CUnicodeString params[3];
};

class CInternalError : public CException {
public:
    CInternalError(FailureKind kind, const wchar_t* sourceFile, int32_t line, uint32_t errorCode)
        : sourceFile(sourceFile), line(line), kind(kind), errorCode(errorCode)
    {
    }

    const wchar_t* GetSourceFile() const { return sourceFile; }
    int32_t GetLine() const { return line; }
    FailureKind GetKind() const { return kind; }
    uint32_t GetErrorCode() const { return errorCode; }

    CUnicodeString GetMessageText() const override;
    // Counts the report process-wide; from the third on, the user may end the process.
    void Report() override;

private:
    const wchar_t* sourceFile; // static text, not copied
    int32_t line;
    FailureKind kind;
    uint32_t errorCode;
};

class CLastErrorException : public CException {
public:
    explicit CLastErrorException(uint32_t errorCode) : errorCode(errorCode) {}
    uint32_t GetErrorCode() const { return errorCode; }
    CUnicodeString GetMessageText() const override; // the system's text of the code

private:
    uint32_t errorCode;
};

class CFileException : public CException {
public:
    // The kind follows from the system error code (KindFromSystemError).
    CFileException(uint32_t errorCode, const CUnicodeString& fileName);
    // A condition the framework detected itself; the error code is 0.
    CFileException(FileErrorKind kind, const CUnicodeString& fileName);

    uint32_t GetErrorCode() const { return errorCode; }
    FileErrorKind GetKind() const { return kind; }
    const CUnicodeString& GetFileName() const { return fileName; }
    CUnicodeString GetMessageText() const override;

private:
    uint32_t errorCode;
    FileErrorKind kind;
    CUnicodeString fileName;
};

// A failure the user already knows about: message handlers neither log nor record it.
// Nothing in this library creates one.
class CUserException : public CException {
public:
    CUnicodeString GetMessageText() const override { return CUnicodeString(); }
};

// Entered by every failure operation, on the stack of the failing code. Makes
// DefaultMemoryManager current, so that texts and exception objects never come from a
// private manager of the failing thread. A Reporting scope opened while another one is open
// on the same thread means the report itself failed: the process ends at once.
class CErrorScope {
public:
    enum Mode : uint32_t { Raising = 0, Reporting = 1 };

    explicit CErrorScope(Mode mode);
    ~CErrorScope();
    CErrorScope(const CErrorScope&) = delete;
    CErrorScope& operator=(const CErrorScope&) = delete;

private:
    IMemoryManager* savedManager;
    // The thread's error state a Reporting scope marked (null for Raising), kept so that the
    // destructor, which must not throw, need not look the thread's record up again.
    CErrorInfo* reporting;
};

// Returns false only while the thread suppresses exceptions (the failure was shown instead);
// otherwise throws a CInternalError pointer and does not return.
bool GenerateInternalError(FailureKind kind, const wchar_t* functionName, const wchar_t* expressionText,
                           const wchar_t* sourceFile, int32_t line, uint32_t errorCode);

[[noreturn]] void ThrowMemoryException();

// Returns only while the thread suppresses exceptions.
void ThrowLastErrorException(uint32_t errorCode);
// A CCheckException with the parameters param0, param1 and an empty third one. Returns only
// while the thread suppresses exceptions.
void ThrowCheckException(const CMessageName& messageName, const CUnicodeString& param0, const CUnicodeString& param1);

// Always thrown, whatever the thread's mode: right after a failed platform call with its
// last-error code, or with a kind for conditions the framework detects itself.
[[noreturn]] void ThrowFileException(uint32_t errorCode, const CUnicodeString& fileName);
[[noreturn]] void ThrowFileExceptionOfKind(FileErrorKind kind, const CUnicodeString& fileName);

// The display text of a failed check when it is shown instead of thrown.
CUnicodeString BuildFailureText(FailureKind kind, const wchar_t* functionName, const wchar_t* expressionText,
                                const wchar_t* sourceFile, int32_t line, uint32_t errorCode);

// A failure that must not propagate (a destructor, an exit handler, a static initialiser) in
// the framework's lowest layers, memory and start-up, which sit below the message display: it
// goes to the debugger output and is deleted. Allocates nothing, since memory may be what
// failed.
void TraceUnpropagated(CException* exception) noexcept;

// A failure that must not propagate, reported where such failures go: through the reporting
// layer (ProcessException) when it is there, to the debugger output otherwise. The caller
// deletes e.
void ReportUnpropagated(CException* e);

// printf-style text (MS conventions: %s takes a wide string) to the debugger output. Works as
// soon as the memory managers are built.
void DebugTrace(const wchar_t* format, ...);

// Code 0 is an internal error (then None); codes without a kind of their own are Generic.
FileErrorKind KindFromSystemError(uint32_t errorCode);

// The system's text of a code, line break included; the framework's "unknown error" message
// with the hexadecimal code when the system has none. Code 0 never asks the system.
CUnicodeString GetLastErrorText(uint32_t errorCode);

// Message lookups by name in the registered message modules (current interface language).
bool MessageExists(const CMessageName& messageName);
// The text, or the name itself when no module has the message.
CUnicodeString LoadMessageOrName(const CMessageName& messageName);
// The text with %0, %1, ... filled; a missing message gives its name followed by the
// parameters, each after one blank.
CUnicodeString FormatMessageText(const CMessageName& messageName, const CUnicodeString* params, int32_t count);

// The stop modes of the current user's settings "AssertStopMode" (default Debug) and
// "ErrorStopMode" (default Never), read once per process.
StopMode GetAssertStopMode();
StopMode GetErrorStopMode();
// The mode named by text, in any case; anything else, the empty text included, is the default.
StopMode StopModeFromText(const wchar_t* text, StopMode defaultMode);

// The one seam between raising and reporting. The failure operations above need nothing but
// strings and memory; what a report needs from the layers above (the display, message texts
// of the resource modules, the current user's settings) is reached through this table, which
// the display facility fills as soon as its locks exist and empties before they go. Without
// it the defaults stand in: a plain message box captioned "Zelkor", the debugger output, no
// message text (the name stands in), no setting (the stop modes keep their defaults, unread).
struct CReportServices {
    int32_t (*ShowText)(const wchar_t* text, uint32_t flags);                // ShowMessage
    void (*ReportException)(CException* e);                                  // ProcessException; the caller deletes e
    bool (*LoadText)(const CMessageName& messageName, CUnicodeString& text); // LoadMessageText
    CUnicodeString (*ReadUserSetting)(const wchar_t* name);                  // GetUserSetting
};
// services must outlive its registration; null withdraws it.
void SetReportServices(const CReportServices* services);

namespace ErrorsInternal {
// Seams for tests only: nothing in the framework calls these.
using ShowMessageFunction = int32_t (*)(const wchar_t* text, uint32_t flags);
// Routes every display of this facility through function (null: the report services again);
// returns the previous one.
ShowMessageFunction SetShowMessageHookForTest(ShowMessageFunction function);
void ResetStopModesForTest();
void ResetInternalErrorCountForTest();
} // namespace ErrorsInternal

} // namespace Zelkor
