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
    int32_t line;              // the line the message shows
};

namespace CheckSite {

// Src/Alloc
inline constexpr CCheckSite HeapNotCreatedOnAllocate{L"Src/Alloc", 520};
inline constexpr CCheckSite HeapDestroyedTwice{L"Src/Alloc", 551};
inline constexpr CCheckSite HeapDestroyRefused{L"Src/Alloc", 671};
inline constexpr CCheckSite HeapNotCreated{L"Src/Alloc", 682};
inline constexpr CCheckSite ProcessHeapFreeRefused{L"Src/Alloc", 894};
inline constexpr CCheckSite AllocationGranularityUnknown{L"Src/Alloc", 928};

// Src/AtomicBlockManager: a pool whose geometry leaves no block
inline constexpr CCheckSite BlockSizeZero{L"Src/AtomicBlockManager", 24};
inline constexpr CCheckSite PageTooSmallForHeader{L"Src/AtomicBlockManager", 43};
inline constexpr CCheckSite PageNotDivisibleIntoBlocks{L"Src/AtomicBlockManager", 45};

// Inc/Array, Inc/FastArray, Inc/PointerArray
inline constexpr CCheckSite ArrayByteSizeOverflow{L"Inc/Array", 1047};
inline constexpr CCheckSite FastArrayByteSizeOverflow{L"Inc/FastArray", 800};
inline constexpr CCheckSite PointerArrayDeleteNegativeIndex{L"Inc/PointerArray", 525};
inline constexpr CCheckSite PointerArrayDeleteIndexPastEnd{L"Inc/PointerArray", 526};
inline constexpr CCheckSite PointerArrayDeleteNegativeCount{L"Inc/PointerArray", 527};
inline constexpr CCheckSite PointerArrayDeleteCountPastEnd{L"Inc/PointerArray", 528};

// Inc/Map, Inc/HashTable, Src/HashTable: a link met where a node or a free slot belongs
inline constexpr CCheckSite MapElementsWithoutBuckets{L"Inc/Map", 768};
inline constexpr CCheckSite MapLinkWhereNodeBelongs{L"Inc/Map", 944};
inline constexpr CCheckSite HashTableLinkWhereNodeBelongs{L"Inc/HashTable", 925};
inline constexpr CCheckSite HashTableSizeBeyondLargest{L"Src/HashTable", 88};

// Inc/Object
inline constexpr CCheckSite ObjectQueryUnsupported{L"Inc/Object", 39};
inline constexpr CCheckSite ObjectNullEntry{L"Inc/Object", 385};

// Inc/ThreadObject
inline constexpr CCheckSite ThreadObjectForeignRecord{L"Inc/ThreadObject", 177};

// Src/RegistryKey
inline constexpr CCheckSite RegistryOpenWithHandle{L"Src/RegistryKey", 120};
inline constexpr CCheckSite RegistryOpenWhileOpen{L"Src/RegistryKey", 121};
inline constexpr CCheckSite RegistryOpenNullPath{L"Src/RegistryKey", 122};
inline constexpr CCheckSite RegistryOpenUnknownMode{L"Src/RegistryKey", 154};
inline constexpr CCheckSite RegistryReadClosed{L"Src/RegistryKey", 331};
inline constexpr CCheckSite RegistryReadNullArgument{L"Src/RegistryKey", 332};
inline constexpr CCheckSite RegistryValueGrewWhileRead{L"Src/RegistryKey", 367};
inline constexpr CCheckSite RegistryWriteNullData{L"Src/RegistryKey", 379};
inline constexpr CCheckSite RegistryWriteNotWritable{L"Src/RegistryKey", 380};

// Src/ResourceInfo
inline constexpr CCheckSite LanguageIndexOutOfRange{L"Src/ResourceInfo", 120};
inline constexpr CCheckSite LanguageLocaleIndexOutOfRange{L"Src/ResourceInfo", 165};
inline constexpr CCheckSite LanguageLocaleNameFailed{L"Src/ResourceInfo", 178};
inline constexpr CCheckSite ResourceModuleNullHandle{L"Src/ResourceInfo", 317};
inline constexpr CCheckSite ResourceModuleNotRegistered{L"Src/ResourceInfo", 670};

// Src/ThreadObject
inline constexpr CCheckSite ThreadHandleNotDuplicated{L"Src/ThreadObject", 27};
inline constexpr CCheckSite ThreadRecordArrayMissingOnRemove{L"Src/ThreadObject", 62};
inline constexpr CCheckSite ThreadRecordArrayMissing{L"Src/ThreadObject", 126};
inline constexpr CCheckSite ThreadStateUnknown{L"Src/ThreadObject", 131};

// Src/VersionInfo
inline constexpr CCheckSite VersionResourceUnreadable{L"Src/VersionInfo", 83};
inline constexpr CCheckSite VersionBlockPathTooLong{L"Src/VersionInfo", 108};

// Src/Zelkor
inline constexpr CCheckSite ModuleAttachedWithOtherAttach{L"Src/Zelkor", 358};
inline constexpr CCheckSite ModuleAttachedWithOtherDetach{L"Src/Zelkor", 359};
inline constexpr CCheckSite ModuleDetachedUnknown{L"Src/Zelkor", 400};
inline constexpr CCheckSite OwnResourceModuleNullHandle{L"Src/Zelkor", 418};
inline constexpr CCheckSite PlatformVersionUnreadable{L"Src/Zelkor", 1388};

// Src/ZelkorStatic
inline constexpr CCheckSite ModuleEntryOfSecondModule{L"Src/ZelkorStatic", 29};
inline constexpr CCheckSite ZelkorModuleHandleNull{L"Src/ZelkorStatic", 50};

// Src/Errors, and the reserve of memory exceptions, which reports as Src/PrivateAllocators
inline constexpr CCheckSite FailureKindUnknown{L"Src/Errors", 474};
inline constexpr CCheckSite FileErrorKindOfSuccess{L"Src/Errors", 812};
inline constexpr CCheckSite FileExceptionWithoutKind{L"Src/Errors", 853};
inline constexpr CCheckSite ExceptionReserveFreeSlotGivenBack{L"Src/PrivateAllocators", 312};
inline constexpr CCheckSite ExceptionReserveForeignBlock{L"Src/PrivateAllocators", 318};

// Src/MessageHandlers
inline constexpr CCheckSite ConsoleNullText{L"Src/MessageHandlers", 47};
inline constexpr CCheckSite MessageIconModuleNotFound{L"Src/MessageHandlers", 287};
inline constexpr CCheckSite EventSourceAlreadyRegistered{L"Src/MessageHandlers", 553};

// Src/PrivateAllocators
inline constexpr CCheckSite VirtualMemoryFreeFailed{L"Src/PrivateAllocators", 130};

// Src/File: CFile::Write
inline constexpr CCheckSite FileWriteNullBuffer{L"Src/File", 153};
inline constexpr CCheckSite FileWriteBadCount{L"Src/File", 154};
inline constexpr CCheckSite FileWriteClosed{L"Src/File", 155};

// Src/Time
inline constexpr CCheckSite TimeCalendarToFileTime{L"Src/Time", 255};
inline constexpr CCheckSite TimeLocalToUtc{L"Src/Time", 240};
inline constexpr CCheckSite TimeBeforeEpoch{L"Src/Time", 233};
inline constexpr CCheckSite TimeFormatNull{L"Src/Time", 496};
inline constexpr CCheckSite FileTimeNotConvertible{L"Src/Time", 504};
inline constexpr CCheckSite TimeFormatFailed{L"Src/Time", 574};
inline constexpr CCheckSite TimeLocalFileTime{L"Src/Time", 410}; // the message log's records

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

// The site of the check written on this line.
#define ZELKOR_HERE(sourcePath) (::Zelkor::CCheckSite{sourcePath, __LINE__})

// A check of the caller's arguments: reports at the site and returns from the calling function
// (with the value given, if any) when they are bad.
#define ZELKOR_CHECK_ARGUMENT(condition, site, ...)                                                                    \
    do {                                                                                                               \
        if (!::Zelkor::Check(condition, site))                                                                         \
            return __VA_ARGS__;                                                                                        \
    } while (0)
