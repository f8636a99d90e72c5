// The module handle of a framework module and the constant strings built at start-up.
// RawModuleEntry runs before any static initialiser, so it touches plain data only.
#include <windows.h>

#include <atomic>

#include "Errors.h"
#include "FileSystem.h"
#include "GuardedStatic.h"
#include "StartupOrder.h"
#include "Zelkor.h"

namespace Zelkor {

namespace {

// Zero-initialised data, valid before the runtime's initialisation.
std::atomic<HMODULE> ZelkorModule{nullptr};
std::atomic<bool> EntryHooked{false};

} // namespace

BOOL RawModuleEntry(HINSTANCE module, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        HMODULE expected = nullptr;
        if (!ZelkorModule.compare_exchange_strong(expected, module, std::memory_order_acq_rel) && expected != module) {
            Check(false, CheckSite::ModuleEntryOfSecondModule);
            return TRUE;
        }
        EntryHooked.store(true, std::memory_order_release);
        // GCOVR_EXCL_START: a library's detach comes after its exit handlers wrote the counts
    } else if (reason == DLL_PROCESS_DETACH) {
        EntryHooked.store(false, std::memory_order_release);
    }
    // GCOVR_EXCL_STOP
    return TRUE;
}

HMODULE GetZelkorModuleHandle()
{
    HMODULE module = ZelkorModule.load(std::memory_order_acquire);
    if (module == nullptr) {
        // An executable has no raw hook; it is its own framework module. Racing threads store
        // the same value.
        module = GetModuleHandleW(nullptr);
        HMODULE expected = nullptr;
        if (!ZelkorModule.compare_exchange_strong(expected, module, std::memory_order_acq_rel))
            module = expected;
    }
    Check(module != nullptr, CheckSite::ZelkorModuleHandleNull);
    return module;
}

namespace StartupInternal {

bool IsModuleEntryHooked()
{
    return EntryHooked.load(std::memory_order_acquire);
}

} // namespace StartupInternal

CUnicodeString GetZelkorModuleDirectory()
{
    return ExtractPath(ModuleFileName(GetZelkorModuleHandle()));
}

// ZELKOR_ROW_CONSTANT_STRINGS holds the constant strings; each lives beside its users (the
// memory-exception text in Src/Errors, the long-path prefixes in Src/FileSystem, the caption in
// Src/MessageHandlers) at its own offset in the row.
ZELKOR_INIT(ZELKOR_ROW_CONSTANT_STRINGS + 10)
const CUnicodeString VirtualFilesPrefix =
    GuardedInit([] { return CUnicodeString(L"\\\\Quorell\\Zelkor\\VirtualFiles$\\"); });

} // namespace Zelkor
