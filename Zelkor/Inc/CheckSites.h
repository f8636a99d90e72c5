// The framework's one check, and where a failed check is reported: the source path and the line
// that the failure message shows. Sites whose location users and tests rely on are named here,
// in one table, so that the code that checks and the tests that pin a report name the same
// constant. A check whose location nobody relies on reports where it stands, through
// ZELKOR_HERE. A module built on the framework names its own sites the same way, in a table of
// its own.
//
// This header needs nothing else of the framework, so that the string and container headers,
// which Errors.h itself includes, can check too.
#pragma once

#include <windows.h>

#include <cstdint>

namespace Zelkor {

struct CCheckSite {
    const wchar_t* sourcePath; // framework-relative, such as "Src/File"
    int32_t line;              // the line the message shows: a kept line or a real one
};

// The table below, by path, then by line. Its lines are kept lines: the lines these checks had
// in the framework's earlier sources, which failure messages have shown ever since and which
// users and tests rely on; they are not lines of today's files. A check reported through
// ZELKOR_HERE shows its real line instead.
constexpr CCheckSite KeptSite(const wchar_t* sourcePath, int32_t keptLine)
{
    return CCheckSite{sourcePath, keptLine};
}

namespace CheckSite {

// Inc/Array
inline constexpr CCheckSite ArrayByteSizeOverflow = KeptSite(L"Inc/Array", 1047);

// Inc/FastArray
inline constexpr CCheckSite FastArrayByteSizeOverflow = KeptSite(L"Inc/FastArray", 800);

// Inc/HashTable
inline constexpr CCheckSite HashTableLinkWhereNodeBelongs = KeptSite(L"Inc/HashTable", 925);

// Inc/Map
inline constexpr CCheckSite MapElementsWithoutBuckets = KeptSite(L"Inc/Map", 768);
inline constexpr CCheckSite MapLinkWhereNodeBelongs = KeptSite(L"Inc/Map", 944);

// Inc/Object
inline constexpr CCheckSite ObjectQueryUnsupported = KeptSite(L"Inc/Object", 39);
inline constexpr CCheckSite ObjectNullEntry = KeptSite(L"Inc/Object", 385);

// Inc/PointerArray
inline constexpr CCheckSite PointerArrayDeleteNegativeIndex = KeptSite(L"Inc/PointerArray", 525);
inline constexpr CCheckSite PointerArrayDeleteIndexPastEnd = KeptSite(L"Inc/PointerArray", 526);
inline constexpr CCheckSite PointerArrayDeleteNegativeCount = KeptSite(L"Inc/PointerArray", 527);
inline constexpr CCheckSite PointerArrayDeleteCountPastEnd = KeptSite(L"Inc/PointerArray", 528);

// Inc/ThreadObject
inline constexpr CCheckSite ThreadObjectForeignRecord = KeptSite(L"Inc/ThreadObject", 177);

// Src/Alloc
inline constexpr CCheckSite HeapNotCreatedOnAllocate = KeptSite(L"Src/Alloc", 520);
inline constexpr CCheckSite HeapDestroyedTwice = KeptSite(L"Src/Alloc", 551);
inline constexpr CCheckSite HeapDestroyRefused = KeptSite(L"Src/Alloc", 671);
inline constexpr CCheckSite HeapNotCreated = KeptSite(L"Src/Alloc", 682);
inline constexpr CCheckSite ProcessHeapFreeRefused = KeptSite(L"Src/Alloc", 894);
inline constexpr CCheckSite AllocationGranularityUnknown = KeptSite(L"Src/Alloc", 928);

// Src/AtomicBlockManager: a pool whose geometry leaves no block
inline constexpr CCheckSite BlockSizeZero = KeptSite(L"Src/AtomicBlockManager", 24);
inline constexpr CCheckSite PageTooSmallForHeader = KeptSite(L"Src/AtomicBlockManager", 43);
inline constexpr CCheckSite PageNotDivisibleIntoBlocks = KeptSite(L"Src/AtomicBlockManager", 45);

// Src/Errors
inline constexpr CCheckSite FailureKindUnknown = KeptSite(L"Src/Errors", 474);
inline constexpr CCheckSite FileErrorKindOfSuccess = KeptSite(L"Src/Errors", 812);
inline constexpr CCheckSite FileExceptionWithoutKind = KeptSite(L"Src/Errors", 853);

// Src/File: CFile::Write
inline constexpr CCheckSite FileWriteNullBuffer = KeptSite(L"Src/File", 153);
inline constexpr CCheckSite FileWriteBadCount = KeptSite(L"Src/File", 154);
inline constexpr CCheckSite FileWriteClosed = KeptSite(L"Src/File", 155);

// Src/HashTable
inline constexpr CCheckSite HashTableSizeBeyondLargest = KeptSite(L"Src/HashTable", 88);

// Src/MessageHandlers
inline constexpr CCheckSite ConsoleNullText = KeptSite(L"Src/MessageHandlers", 47);
inline constexpr CCheckSite MessageIconModuleNotFound = KeptSite(L"Src/MessageHandlers", 287);
inline constexpr CCheckSite EventSourceAlreadyRegistered = KeptSite(L"Src/MessageHandlers", 553);

// Src/PrivateAllocators, where the reserve of memory exceptions (Src/Errors) reports too
inline constexpr CCheckSite VirtualMemoryFreeFailed = KeptSite(L"Src/PrivateAllocators", 130);
inline constexpr CCheckSite ExceptionReserveFreeSlotGivenBack = KeptSite(L"Src/PrivateAllocators", 312);
inline constexpr CCheckSite ExceptionReserveForeignBlock = KeptSite(L"Src/PrivateAllocators", 318);

// Src/RegistryKey
inline constexpr CCheckSite RegistryOpenWithHandle = KeptSite(L"Src/RegistryKey", 120);
inline constexpr CCheckSite RegistryOpenWhileOpen = KeptSite(L"Src/RegistryKey", 121);
inline constexpr CCheckSite RegistryOpenNullPath = KeptSite(L"Src/RegistryKey", 122);
inline constexpr CCheckSite RegistryOpenUnknownMode = KeptSite(L"Src/RegistryKey", 154);
inline constexpr CCheckSite RegistryReadClosed = KeptSite(L"Src/RegistryKey", 331);
inline constexpr CCheckSite RegistryReadNullArgument = KeptSite(L"Src/RegistryKey", 332);
inline constexpr CCheckSite RegistryValueGrewWhileRead = KeptSite(L"Src/RegistryKey", 367);
inline constexpr CCheckSite RegistryWriteNullData = KeptSite(L"Src/RegistryKey", 379);
inline constexpr CCheckSite RegistryWriteNotWritable = KeptSite(L"Src/RegistryKey", 380);

// Src/ResourceInfo
inline constexpr CCheckSite LanguageIndexOutOfRange = KeptSite(L"Src/ResourceInfo", 120);
inline constexpr CCheckSite LanguageLocaleIndexOutOfRange = KeptSite(L"Src/ResourceInfo", 165);
inline constexpr CCheckSite LanguageLocaleNameFailed = KeptSite(L"Src/ResourceInfo", 178);
inline constexpr CCheckSite ResourceModuleNullHandle = KeptSite(L"Src/ResourceInfo", 317);
inline constexpr CCheckSite ResourceModuleNotRegistered = KeptSite(L"Src/ResourceInfo", 670);

// Src/ThreadObject
inline constexpr CCheckSite ThreadHandleNotDuplicated = KeptSite(L"Src/ThreadObject", 27);
inline constexpr CCheckSite ThreadRecordArrayMissingOnRemove = KeptSite(L"Src/ThreadObject", 62);
inline constexpr CCheckSite ThreadRecordArrayMissing = KeptSite(L"Src/ThreadObject", 126);
inline constexpr CCheckSite ThreadStateUnknown = KeptSite(L"Src/ThreadObject", 131);

// Src/Time
inline constexpr CCheckSite TimeBeforeEpoch = KeptSite(L"Src/Time", 233);
inline constexpr CCheckSite TimeLocalToUtc = KeptSite(L"Src/Time", 240);
inline constexpr CCheckSite TimeCalendarToFileTime = KeptSite(L"Src/Time", 255);
inline constexpr CCheckSite TimeLocalFileTime = KeptSite(L"Src/Time", 410); // the message log's records
inline constexpr CCheckSite TimeFormatNull = KeptSite(L"Src/Time", 496);
inline constexpr CCheckSite FileTimeNotConvertible = KeptSite(L"Src/Time", 504);
inline constexpr CCheckSite TimeFormatFailed = KeptSite(L"Src/Time", 574);

// Src/VersionInfo
inline constexpr CCheckSite VersionResourceUnreadable = KeptSite(L"Src/VersionInfo", 83);
inline constexpr CCheckSite VersionBlockPathTooLong = KeptSite(L"Src/VersionInfo", 108);

// Src/Zelkor
inline constexpr CCheckSite ModuleAttachedWithOtherAttach = KeptSite(L"Src/Zelkor", 358);
inline constexpr CCheckSite ModuleAttachedWithOtherDetach = KeptSite(L"Src/Zelkor", 359);
inline constexpr CCheckSite ModuleDetachedUnknown = KeptSite(L"Src/Zelkor", 400);
inline constexpr CCheckSite OwnResourceModuleNullHandle = KeptSite(L"Src/Zelkor", 418);
inline constexpr CCheckSite PlatformVersionUnreadable = KeptSite(L"Src/Zelkor", 1388);

// Src/ZelkorStatic
inline constexpr CCheckSite ModuleEntryOfSecondModule = KeptSite(L"Src/ZelkorStatic", 29);
inline constexpr CCheckSite ZelkorModuleHandleNull = KeptSite(L"Src/ZelkorStatic", 50);
} // namespace CheckSite

// Both throw a CInternalError at the site, or return false while the thread shows failures
// instead of throwing (module load and unload). Defined with the other failure operations.
bool ReportFailedCheck(const CCheckSite& site);
bool ReportFailedPlatformCheck(const CCheckSite& site, uint32_t errorCode);

// True when the condition holds; otherwise the failure is reported at the site. A caller that
// goes on after a false result leaves its object untouched rather than work on bad input.
inline bool Check(bool holds, const CCheckSite& site)
{
    return holds || ReportFailedCheck(site);
}

// The same for a platform call: the report carries the thread's last-error code, read before
// anything else can change it.
inline bool CheckLastError(bool holds, const CCheckSite& site)
{
    return holds || ReportFailedPlatformCheck(site, ::GetLastError());
}

} // namespace Zelkor

// The site of the check written on this line: its real line in this source.
#define ZELKOR_HERE(sourcePath) (::Zelkor::CCheckSite{sourcePath, __LINE__})

// A check of the caller's arguments: reports at the site and returns from the calling function
// (with the value given, if any) when they are bad.
#define ZELKOR_CHECK_ARGUMENT(condition, site, ...)                                                                    \
    do {                                                                                                               \
        if (!::Zelkor::Check(condition, site))                                                                         \
            return __VA_ARGS__;                                                                                        \
    } while (0)
