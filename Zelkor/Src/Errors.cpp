// Exceptions, their texts, the failure entry points and the debugger trace.
//
// Every failure operation opens a CErrorScope first. The scope makes DefaultMemoryManager
// current, so the exception object and its texts never come from a private manager the failing
// thread may have switched to (that manager may be the very thing that failed). Showing a
// failure opens a Reporting scope; a failure inside it is a double failure and ends the process,
// because the display path itself can no longer be trusted.
//
// This facility raises; it does not know how to report. The display, the message texts and the
// stop-mode settings come from the layers above through CReportServices (Errors.h).
#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <iterator>

#include "Errors.h"
#include "FastArray.h"
#include "GuardedStatic.h"
#include "Lock.h"
#include "MessageName.h"
#include "StartupOrder.h"
#include "ThreadData.h"

namespace Zelkor {

namespace {

// Guards the two stop-mode caches. Re-entrant: reading a setting may itself fail.
// A failure can come before the lock is built (the module entry's raw hook runs ahead of every
// static initialiser) or after it is gone; the defaults then stand in without touching the lock
// or the registry.
CLifeMark ErrorsLockLife;
struct CErrorsLock {
    CCriticalSection section;
    CErrorsLock() { ErrorsLockLife.Begin(); }
    ~CErrorsLock() { ErrorsLockLife.End(); } // GCOVR_EXCL_LINE: at exit, after the counts are written
};
ZELKOR_INIT(ZELKOR_ROW_LOCKS + 3) CErrorsLock ErrorsLock;
uint32_t AssertStopModeCache = 0; // a StopMode, 0 while not read
uint32_t ErrorStopModeCache = 0;

// Every CInternalError report of the process; only ever incremented (outside tests).
volatile LONG InternalErrorCount = 0;

// Made before it is needed: a memory failure must not need memory to be told.
ZELKOR_INIT(ZELKOR_ROW_CONSTANT_STRINGS + 1)
const CUnicodeString NotEnoughMemoryText = GuardedInit([] { return CUnicodeString(L"Not enough memory!"); });

ErrorsInternal::ShowMessageFunction ShowMessageHook = nullptr;

// Filled by the reporting layer while it is there (SetReportServices); the table is static.
std::atomic<const CReportServices*> ReportServices{nullptr};

const CReportServices* Services()
{
    return ReportServices.load(std::memory_order_acquire);
}

constexpr uint32_t HandIconSystemModal = MB_ICONHAND | MB_SYSTEMMODAL;

// Straight to the platform, for when the display is not there or may itself need memory.
int32_t ShowPlainBox(const wchar_t* text, uint32_t flags)
{
    return MessageBoxW(nullptr, text, L"Zelkor", flags);
}

int32_t Display(const wchar_t* text, uint32_t flags)
{
    if (const ErrorsInternal::ShowMessageFunction hook = ShowMessageHook)
        return hook(text, flags);
    if (const CReportServices* services = Services())
        return services->ShowText(text, flags);
    return ShowPlainBox(text, flags);
}

// The exception's text, or its kind and site, to the debugger output; allocates nothing.
void TraceFailure(const CException* exception) noexcept
{
    wchar_t text[160] = L"Zelkor: a failure could not be propagated\n";
    if (const auto* error = dynamic_cast<const CInternalError*>(exception))
        _snwprintf(text, 159, L"Zelkor: internal error at %ls, line %d, system error %u\n", error->GetSourceFile(),
                   static_cast<int>(error->GetLine()), static_cast<unsigned>(error->GetErrorCode()));
    OutputDebugStringW(text);
}

CUnicodeString DecimalText(int32_t value)
{
    wchar_t buffer[16];
    _itow(value, buffer, 10);
    return CUnicodeString(buffer);
}

// Lowercase without leading zeros ("0" for 0).
CUnicodeString HexText(uint32_t value)
{
    wchar_t buffer[16];
    _ultow(value, buffer, 16);
    return CUnicodeString(buffer);
}

const wchar_t* TextOrEmpty(const wchar_t* text)
{
    return text ? text : L"";
}

bool IsLastErrorKind(FailureKind kind)
{
    return kind == FailureKind::AssertLastError || kind == FailureKind::PresumeLastError;
}

bool IsSuppressed()
{
    return ZelkorThreadData.Get().SuppressExceptions;
}

// The suppressed mode's replacement for a throw.
void ShowInsteadOfThrowing(const CUnicodeString& text)
{
    CErrorScope reporting(CErrorScope::Reporting);
    Display(text, HandIconSystemModal);
    ZelkorThreadData.Get().ErrorShown = true;
}

bool LookUpMessage(const CMessageName& messageName, CUnicodeString& text)
{
    const CReportServices* services = Services();
    if (!services)
        return false;
    CMemoryManagerSwitcher useDefault(&DefaultMemoryManager);
    return services->LoadText(messageName, text);
}

const struct {
    const wchar_t* name;
    StopMode mode;
} StopModeNames[] = {
    {L"Always", StopMode::Always},
    {L"Never", StopMode::Never},
    {L"Debug", StopMode::Debug},
};

StopMode ReadStopMode(uint32_t& cache, const wchar_t* setting, StopMode defaultMode)
{
    // Without the settings the default serves this once; the setting is read when it is there.
    const CReportServices* services = Services();
    if (!ErrorsLockLife.IsAlive() || !services)
        return defaultMode;
    CCriticalSectionLock lock(ErrorsLock.section);
    if (cache != 0)
        return static_cast<StopMode>(cache);
    // The registry read may fail and report through a failure operation that asks for a stop
    // mode again; the default stands in meanwhile, so that cannot recurse.
    cache = static_cast<uint32_t>(defaultMode);
    try {
        const CUnicodeString text = services->ReadUserSetting(setting);
        cache = static_cast<uint32_t>(StopModeFromText(text.GetText(), defaultMode));
    } catch (CException* e) {
        // A broken setting must not replace the failure being raised: keep the default.
        delete e;
    }
    return static_cast<StopMode>(cache);
}

void StopIfWanted(StopMode mode)
{
    if (mode == StopMode::Always || (mode == StopMode::Debug && IsDebuggerPresent()))
        DebugBreak();
}

const CMessageName* const FileKindMessages[] = {
    nullptr,
    &Messages::ERR_FILE_GENERIC,
    &Messages::ERR_FILE_NOT_FOUND,
    &Messages::ERR_FILE_BAD_PATH,
    &Messages::ERR_FILE_TOO_MANY_OPEN_FILES,
    &Messages::ERR_FILE_ACCESS_DENIED,
    &Messages::ERR_FILE_INVALID_FILE,
    &Messages::ERR_FILE_REMOVE_CURRENT_DIR,
    &Messages::ERR_FILE_DIRECTORY_FULL,
    &Messages::ERR_FILE_BAD_SEEK,
    &Messages::ERR_FILE_HARD_IO,
    &Messages::ERR_FILE_SHARING_VIOLATION,
    &Messages::ERR_FILE_LOCK_VIOLATION,
    &Messages::ERR_FILE_DISK_FULL,
    &Messages::ERR_FILE_END_OF_FILE,
    &Messages::ERR_FILE_ALREADY_EXISTS,
    &Messages::ERR_DIR_NOT_EMPTY,
};

const wchar_t* const FailureTemplates[] = {
    L"Internal Program Error:\nAssertion failed: ( %0 )\n%2, %3.\n( %1 ).",
    L"Internal Program Error:\nAssertion failed: ( %0 )\n%2, %3.\n( %1 ).\nError code: %4 - %5",
    L"Internal Program Error:\nPresumption failed: ( %0 )\n%2, %3.\n( %1 ).",
    L"Internal Program Error:\nPresumption failed: ( %0 )\n%2, %3.\n( %1 ).\nError code: %4 - %5",
};

// Enters a lock that has been built; without one (before start-up built it, or after its exit
// handler ran) only the loading thread runs, and nothing needs guarding.
class CLockIfBuilt {
public:
    CLockIfBuilt(CCriticalSection& section, bool built) : lock(built ? &section : nullptr)
    {
        if (lock)
            lock->Enter();
    }
    ~CLockIfBuilt()
    {
        if (lock)
            lock->Leave();
    }
    CLockIfBuilt(const CLockIfBuilt&) = delete;
    CLockIfBuilt& operator=(const CLockIfBuilt&) = delete;

private:
    CCriticalSection* lock;
};

// The reserve of memory exceptions. Static storage, so it exists before any heap does and a
// CMemoryException never needs memory; the flags start clear by zero-initialisation. Memory
// can run out while the rows before this one are built, so the reserve serves before its lock
// exists too, and after it is gone.
CLifeMark MemoryExceptionPoolLife;
class CMemoryExceptionPool {
public:
    static constexpr int32_t SlotCount = 64;

    CMemoryExceptionPool() { MemoryExceptionPoolLife.Begin(); }
    ~CMemoryExceptionPool() { MemoryExceptionPoolLife.End(); } // GCOVR_EXCL_LINE: at exit, after the counts are written

    void* Take()
    {
        {
            CLockIfBuilt hold(lock, MemoryExceptionPoolLife.IsAlive());
            for (Slot& slot : slots) {
                if (!slot.inUse) {
                    slot.inUse = true;
                    return slot.storage;
                }
            }
        }
        // Straight to the platform: the handlers may need memory themselves.
        ShowPlainBox(L"Not enough memory!", HandIconSystemModal);
        abort();
    }

    // Returns false for a pointer of no slot or of a free one, with the site that reports it.
    bool GiveBack(void* block, const CCheckSite*& failedSite)
    {
        CLockIfBuilt hold(lock, MemoryExceptionPoolLife.IsAlive());
        for (Slot& slot : slots) {
            if (slot.storage == block) {
                if (!slot.inUse) {
                    failedSite = &CheckSite::ExceptionReserveFreeSlotGivenBack;
                    return false;
                }
                slot.inUse = false;
                return true;
            }
        }
        failedSite = &CheckSite::ExceptionReserveForeignBlock;
        return false;
    }

private:
    struct Slot {
        bool inUse;
        alignas(CMemoryException) unsigned char storage[sizeof(CMemoryException)];
    };
    Slot slots[SlotCount];
    CCriticalSection lock;
};

ZELKOR_INIT(ZELKOR_ROW_EXCEPTION_RESERVE) CMemoryExceptionPool MemoryExceptionPool;

} // namespace

// ---- Exception classes ----

void CException::Report()
{
    Display(GetMessageText(), 0);
}

void* CMemoryException::operator new(size_t)
{
    return MemoryExceptionPool.Take();
}

// The check cannot tell that the internal error, a pointer, is caught below as its base.
void CMemoryException::operator delete(void* block) noexcept // NOLINT(bugprone-exception-escape)
{
    if (!block)
        return;
    const CCheckSite* failedSite = nullptr;
    if (MemoryExceptionPool.GiveBack(block, failedSite))
        return;
    // Deleting destructors must not throw; the internal error goes where failures that cannot
    // propagate go.
    try {
        ReportFailedCheck(*failedSite);
    } catch (CException* e) {
        ReportUnpropagated(e);
        delete e;
    }
}

CUnicodeString CMemoryException::GetMessageText() const
{
    return NotEnoughMemoryText;
}

CCheckException::CCheckException(const CMessageName& messageName, const CUnicodeString& param0,
                                 const CUnicodeString& param1, const CUnicodeString& param2)
    : messageName(&messageName), params{param0, param1, param2}
{
}

CUnicodeString CCheckException::GetMessageText() const
{
    return FormatMessageText(*messageName, params, 3);
}

CUnicodeString CInternalError::GetMessageText() const
{
    const CUnicodeString params[3] = {TextOrEmpty(sourceFile), DecimalText(line), L"0x" + HexText(errorCode)};
    if (IsLastErrorKind(kind))
        return CUnicodeString(L"Internal Program Error:\n%0, %1.\nError code: %2").SubstParam(params, 3);
    return CUnicodeString(L"Internal Program Error:\n%0, %1.").SubstParam(params, 2);
}

void CInternalError::Report()
{
    const LONG reportNumber = InterlockedIncrement(&InternalErrorCount);
    const CUnicodeString text = GetMessageText();
    if (reportNumber < 3) {
        Display(text, HandIconSystemModal);
        return;
    }
    if (Display(text, HandIconSystemModal | MB_OKCANCEL) == IDCANCEL)
        abort();
}

CUnicodeString CLastErrorException::GetMessageText() const
{
    return GetLastErrorText(errorCode);
}

CFileException::CFileException(uint32_t errorCode, const CUnicodeString& fileName)
    : errorCode(errorCode), kind(KindFromSystemError(errorCode)), fileName(fileName)
{
}

CFileException::CFileException(FileErrorKind kind, const CUnicodeString& fileName)
    : errorCode(0), kind(kind), fileName(fileName)
{
}

CUnicodeString CFileException::GetMessageText() const
{
    const uint32_t index = static_cast<uint32_t>(kind);
    // Without a kind the generic text stands in, once the failure has been shown.
    if (Check(kind != FileErrorKind::None, CheckSite::FileExceptionWithoutKind) &&
        index >= static_cast<uint32_t>(FileErrorKind::NotFound) &&
        index <= static_cast<uint32_t>(FileErrorKind::DirNotEmpty))
        return FormatMessageText(*FileKindMessages[index], &fileName, 1);
    const CUnicodeString params[2] = {fileName, GetLastErrorText(errorCode)};
    return FormatMessageText(Messages::ERR_FILE_GENERIC, params, 2);
}

void TraceUnpropagated(CException* exception) noexcept
{
    TraceFailure(exception);
    delete exception;
}

void ReportUnpropagated(CException* e)
{
    if (const CReportServices* services = Services())
        services->ReportException(e);
    else
        TraceFailure(e);
}

void ReportStartupFailure(CException* e)
{
    // Shown like every failure of the loading thread; the debugger output is the channel of
    // last resort when the display itself fails.
    try {
        ReportUnpropagated(e);
        delete e;
    } catch (CException* nested) {
        delete nested;
        TraceUnpropagated(e);
    }
    try {
        ZelkorThreadData.Get().ErrorShown = true;
    } catch (CException* nested) {
        delete nested;
    }
}

void SetReportServices(const CReportServices* services)
{
    ReportServices.store(services, std::memory_order_release);
}

namespace {
constexpr int32_t MaxDebugTraceLength = 1 << 20;
}

void DebugTrace(const wchar_t* format, ...)
{
    CFastArray<wchar_t, 512> text;
    int32_t limit = 512;
    for (;;) {
        text.SetSize(limit);
        va_list args;
        va_start(args, format);
        // The MS-convention formatter: %s is a wide string; on truncation it returns -1 or,
        // when the text fits without its NUL, exactly the limit.
        const int written = _vsnwprintf(text.GetBuffer(), limit, format, args);
        va_end(args);
        if (written >= 0 && written < limit)
            break;
        // A format that fails for another reason would fail at every size: send what fits.
        if (limit >= MaxDebugTraceLength) {
            text.GetBuffer()[limit - 1] = L'\0';
            break;
        }
        limit *= 2;
    }
    OutputDebugStringW(text.GetBuffer());
}

// ---- Texts ----

FileErrorKind KindFromSystemError(uint32_t errorCode)
{
    // The codes of a kind stay together, several to a line.
    // clang-format off
    switch (errorCode) {
    case 0:
        ReportFailedCheck(CheckSite::FileErrorKindOfSuccess);
        return FileErrorKind::None;
    case 2: case 6: case 18: case 107:
        return FileErrorKind::NotFound;
    case 3: case 15: case 17: case 34: case 52: case 53: case 55: case 67: case 70: case 85:
    case 111: case 123: case 124: case 125: case 144: case 154: case 161: case 206: case 208:
    case 267:
        return FileErrorKind::BadPath;
    case 4: case 36: case 68: case 113:
        return FileErrorKind::TooManyOpenFiles;
    case 5: case 12: case 19: case 29: case 54: case 58: case 64: case 65: case 71: case 80:
    case 82: case 86: case 170: case 999:
        return FileErrorKind::AccessDenied;
    case 11: case 26: case 60: case 66: case 114: case 182: case 191: case 193:
        return FileErrorKind::InvalidFile;
    case 16:
        return FileErrorKind::RemoveCurrentDir;
    case 62:
        return FileErrorKind::DirectoryFull;
    case 24: case 25: case 27: case 30: case 131: case 132:
        return FileErrorKind::BadSeek;
    case 20: case 21: case 22: case 23: case 57: case 59: case 88: case 117: case 995: case 996:
    case 997:
        return FileErrorKind::HardIO;
    case 32:
        return FileErrorKind::SharingViolation;
    case 33: case 108: case 167:
        return FileErrorKind::LockViolation;
    case 39: case 112:
        return FileErrorKind::DiskFull;
    case 38:
        return FileErrorKind::EndOfFile;
    case 183:
        return FileErrorKind::AlreadyExists;
    case 145:
        return FileErrorKind::DirNotEmpty;
    default:
        return FileErrorKind::Generic;
    }
    // clang-format on
}

CUnicodeString GetLastErrorText(uint32_t errorCode)
{
    if (errorCode == 0) {
        const CUnicodeString zero(L"0");
        return FormatMessageText(Messages::ERR_UNKNOWN_LAST_ERROR_TEXT, &zero, 1);
    }
    wchar_t* buffer = nullptr;
    // No arguments are passed, so a text with inserts ("%1 is not a valid ...") keeps them as
    // they stand; without that flag the system refuses such a text altogether.
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, errorCode, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    if (length != 0 && buffer) {
        struct LocalBuffer {
            wchar_t* text;
            ~LocalBuffer() { LocalFree(text); }
        } owner{buffer};
        // The system's trailing line break stays part of the text.
        return CUnicodeString(buffer);
    }
    if (buffer)
        LocalFree(buffer);
    const CUnicodeString code = HexText(errorCode);
    return FormatMessageText(Messages::ERR_UNKNOWN_LAST_ERROR_TEXT, &code, 1);
}

bool MessageExists(const CMessageName& messageName)
{
    CUnicodeString text;
    return LookUpMessage(messageName, text);
}

CUnicodeString LoadMessageOrName(const CMessageName& messageName)
{
    CUnicodeString text;
    if (LookUpMessage(messageName, text))
        return text;
    return CUnicodeString(messageName.GetName());
}

CUnicodeString FormatMessageText(const CMessageName& messageName, const CUnicodeString* params, int32_t count)
{
    if (!params || count < 0)
        count = 0;
    CUnicodeString text;
    if (LookUpMessage(messageName, text))
        return text.SubstParam(params, count);
    CUnicodeString result(messageName.GetName());
    for (int32_t i = 0; i < count; ++i) {
        result += L' ';
        result += params[i];
    }
    return result;
}

CUnicodeString BuildFailureText(FailureKind kind, const wchar_t* functionName, const wchar_t* expressionText,
                                const wchar_t* sourceFile, int32_t line, uint32_t errorCode)
{
    const uint32_t index = static_cast<uint32_t>(kind);
    CUnicodeString format;
    if (index < sizeof(FailureTemplates) / sizeof(FailureTemplates[0]))
        format = CUnicodeString(FailureTemplates[index]);
    else
        ReportFailedCheck(CheckSite::FailureKindUnknown); // returns only when shown
    // Only the templates of the last-error kinds name the system's text.
    const CUnicodeString params[] = {
        TextOrEmpty(expressionText), TextOrEmpty(functionName),
        TextOrEmpty(sourceFile),     DecimalText(line),
        L"0x" + HexText(errorCode),  IsLastErrorKind(kind) ? GetLastErrorText(errorCode) : CUnicodeString()};
    return format.SubstParam(params, static_cast<int32_t>(std::size(params)));
}

// ---- Stop modes ----

StopMode StopModeFromText(const wchar_t* text, StopMode defaultMode)
{
    if (!text)
        return defaultMode;
    for (const auto& entry : StopModeNames) {
        if (_wcsicmp(text, entry.name) == 0)
            return entry.mode;
    }
    return defaultMode;
}

StopMode GetAssertStopMode()
{
    return ReadStopMode(AssertStopModeCache, L"AssertStopMode", StopMode::Debug);
}

StopMode GetErrorStopMode()
{
    return ReadStopMode(ErrorStopModeCache, L"ErrorStopMode", StopMode::Never);
}

// ---- Scopes and failure operations ----

CErrorScope::CErrorScope(Mode mode) : savedManager(GetCurrentMemoryManager()), reporting(nullptr)
{
    SetCurrentMemoryManager(&DefaultMemoryManager);
    // A Raising scope leaves the thread's error state alone (nested scopes restore their own),
    // so it need not touch the thread object, whose first use may allocate: raising a memory
    // exception must not need memory.
    if (mode != Reporting)
        return;
    CErrorInfo& info = ErrorInfo.Get();
    if (info.IsReporting) {
        try {
            Display(L"Double internal error!\nApplication terminated.", HandIconSystemModal);
        } catch (...) {
        }
        abort();
    }
    info.IsReporting = true;
    reporting = &info;
}

CErrorScope::~CErrorScope()
{
    if (reporting)
        reporting->IsReporting = false;
    SetCurrentMemoryManager(savedManager);
}

bool GenerateInternalError(FailureKind kind, const wchar_t* functionName, const wchar_t* expressionText,
                           const wchar_t* sourceFile, int32_t line, uint32_t errorCode)
{
    StopIfWanted(GetAssertStopMode());
    CErrorScope raising(CErrorScope::Raising);
    if (!IsSuppressed())
        throw new CInternalError(kind, sourceFile, line, errorCode);
    ShowInsteadOfThrowing(BuildFailureText(kind, functionName, expressionText, sourceFile, line, errorCode));
    return false;
}

bool ReportFailedCheck(const CCheckSite& site)
{
    return GenerateInternalError(FailureKind::Assert, L"", L"", site.sourcePath, site.line, 0);
}

bool ReportFailedPlatformCheck(const CCheckSite& site, uint32_t errorCode)
{
    return GenerateInternalError(FailureKind::AssertLastError, L"", L"", site.sourcePath, site.line, errorCode);
}

void ThrowLastErrorException(uint32_t errorCode)
{
    StopIfWanted(GetErrorStopMode());
    CErrorScope raising(CErrorScope::Raising);
    if (!IsSuppressed())
        throw new CLastErrorException(errorCode);
    ShowInsteadOfThrowing(GetLastErrorText(errorCode));
}

void ThrowCheckException(const CMessageName& messageName, const CUnicodeString& param0, const CUnicodeString& param1)
{
    StopIfWanted(GetErrorStopMode());
    CErrorScope raising(CErrorScope::Raising);
    if (!IsSuppressed())
        throw new CCheckException(messageName, param0, param1, CUnicodeString());
    const CUnicodeString params[3] = {param0, param1, CUnicodeString()};
    ShowInsteadOfThrowing(FormatMessageText(messageName, params, 3));
}

void ThrowMemoryException()
{
    CErrorScope raising(CErrorScope::Raising);
    throw new CMemoryException();
}

void ThrowFileException(uint32_t errorCode, const CUnicodeString& fileName)
{
    CErrorScope raising(CErrorScope::Raising);
    throw new CFileException(errorCode, fileName);
}

void ThrowFileExceptionOfKind(FileErrorKind kind, const CUnicodeString& fileName)
{
    CErrorScope raising(CErrorScope::Raising);
    throw new CFileException(kind, fileName);
}

// ---- Test seams ----

namespace ErrorsInternal {

ShowMessageFunction SetShowMessageHookForTest(ShowMessageFunction function)
{
    const ShowMessageFunction previous = ShowMessageHook;
    ShowMessageHook = function;
    return previous;
}

void ResetStopModesForTest()
{
    CCriticalSectionLock lock(ErrorsLock.section);
    AssertStopModeCache = 0;
    ErrorStopModeCache = 0;
}

void ResetInternalErrorCountForTest()
{
    InterlockedExchange(&InternalErrorCount, 0);
}

} // namespace ErrorsInternal

} // namespace Zelkor
