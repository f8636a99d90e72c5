// Module entry and start-up: the module registry, the load verdict after a failure shown during
// static initialisation, the order of construction and teardown, and repeated load cycles.
#include <windows.h>
#include <psapi.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "ThreadData.h"
#include "Zelkor.h"

using namespace Zelkor;

namespace {

const auto FakeModule = reinterpret_cast<HINSTANCE>(0x7ff012340000);

void (*const OtherNotification)(HMODULE) = [](HMODULE) {};
void (*const SameNotification)(HMODULE) = [](HMODULE) {};

int CallProbe(HMODULE module, const char* name)
{
    auto f = ExportOf<int (*)()>(module, name);
    EXPECT_NE(f, nullptr) << name;
    return f ? f() : -1;
}

} // namespace

// An executable is its own module and keeps the first handle; the registry keeps one record
// per module. (That an entry clears the thread's mark and a detach sets it again and removes
// the record, the probe module of LoadOfAFrameworkModule shows.)
TEST(Startup, ModuleHandleAndRegistry)
{
    EXPECT_TRUE(RawModuleEntry(GetModuleHandleW(nullptr), DLL_PROCESS_ATTACH, nullptr));
    EXPECT_TRUE(ReportsAt(CheckSite::ModuleEntryOfSecondModule, [] { RawModuleEntry(FakeModule, DLL_PROCESS_ATTACH, nullptr); }));
    EXPECT_EQ(GetZelkorModuleHandle(), GetModuleHandleW(nullptr));
    RawModuleEntry(GetModuleHandleW(nullptr), DLL_PROCESS_DETACH, nullptr);

    std::thread([] {
        const int32_t before = ModuleRegistry.GetCount();
        EXPECT_TRUE(ZelkorModuleEntry(FakeModule, DLL_PROCESS_ATTACH, nullptr));
        EXPECT_TRUE(ZelkorModuleEntry(FakeModule, DLL_PROCESS_ATTACH, nullptr));
        EXPECT_EQ(ModuleRegistry.GetCount(), before + 1);
        EXPECT_TRUE(ZelkorModuleEntry(FakeModule, DLL_PROCESS_DETACH, nullptr));
    }).join();
    // A second attach must bring the same callbacks, and a refused one keeps the first record;
    // a detach needs an attach.
    ModuleRegistry.Attach(FakeModule, SameNotification, SameNotification);
    EXPECT_TRUE(ReportsAt(CheckSite::ModuleAttachedWithOtherAttach,
                          [] { ModuleRegistry.Attach(FakeModule, OtherNotification, SameNotification); }));
    EXPECT_TRUE(ReportsAt(CheckSite::ModuleAttachedWithOtherDetach,
                          [] { ModuleRegistry.Attach(FakeModule, SameNotification, OtherNotification); }));
    ModuleRegistry.Detach(FakeModule);
    EXPECT_TRUE(ReportsAt(CheckSite::ModuleDetachedUnknown, [] { ModuleRegistry.Detach(FakeModule); }));
}

// The probe's statics are built in the order of their rows and destroyed in reverse. Teardown:
// the detach entry removed the record and marked the thread before the exit handlers ran; the
// last of them (ZELKOR_ROW_SUPPRESS) cleared the mark before the early statics went. A late
// row that fails, by a check or by exhausted memory, refuses the load. Without a thread-local slot the module still loads, and its
// per-thread values still work until it unloads.
TEST(Startup, LoadOfAFrameworkModule)
{
    // clang-format off
    const struct { const wchar_t* mode; bool withoutSlots; } rows[] = {
        {L"ok", false}, {L"ok", true}, {L"assert", false}, {L"memory", false}};
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(row.mode)) + (row.withoutSlots ? " without slots" : ""));
        SetEnvironmentVariableW(L"STARTUP_PROBE_MODE", row.mode);
        SetEnvironmentVariableW(L"STARTUP_PROBE_TRACE", L"");
        DWORD error = 0;
        HMODULE module = LoadModule(L"StartupProbe.dll", row.withoutSlots, &error);
        if (std::wstring(row.mode) == L"ok") {
            ASSERT_NE(module, nullptr) << error;
            EXPECT_EQ(CallProbe(module, "ProbeHasOwnRecord"), 1);
            EXPECT_EQ(CallProbe(module, "ProbeSuppressed"), 0) << "the entry clears the mark once loaded";
            EXPECT_EQ(CallProbe(module, "ProbeThreadValueKeeps"), 1);
            EXPECT_TRUE(FreeLibrary(module));
        } else {
            EXPECT_EQ(module, nullptr);
            EXPECT_EQ(error, static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
        }
        EXPECT_EQ(GetModuleHandleW(L"StartupProbe.dll"), nullptr) << "the module stayed loaded";
        wchar_t trace[256] = {};
        GetEnvironmentVariableW(L"STARTUP_PROBE_TRACE", trace, 256);
        EXPECT_STREQ(trace, L"early+ late+(suppress=1) late-(modules=0,suppress=1) early-(suppress=0) ");
    }
}

TEST(Startup, RepeatedLoadsKeepNoHandlesOrMemory)
{
    // Committed memory, and the value of a new handle: under Wine the handle count reads 0, but
    // that value rises when handles leak.
    auto measure = [] {
        PROCESS_MEMORY_COUNTERS counters = {};
        counters.cb = sizeof counters;
        GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
        HANDLE probe = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        CloseHandle(probe);
        return std::make_pair(counters.PagefileUsage, reinterpret_cast<uintptr_t>(probe));
    };
    constexpr int Cycles = 300;
    std::pair<SIZE_T, uintptr_t> before;
    for (int i = -5; i < Cycles; ++i) {
        if (i == 0) // the first cycles settle the loader's and the runtime's own caches
            before = measure();
        HMODULE module = LoadLibraryW(L"Trevalic.dll");
        ASSERT_NE(module, nullptr) << "cycle " << i << " error " << GetLastError();
        ASSERT_TRUE(FreeLibrary(module));
    }
    const auto after = measure();
    // The statically linked runtime keeps about 4 KiB per cycle; anything beyond is ours.
    EXPECT_LE(after.first, before.first + Cycles * SIZE_T(6 * 1024)) << "grew by " << (after.first - before.first) / 1024 << " KiB";
    EXPECT_LE(after.second, before.second + 64) << "handles leak";
}

TEST(Startup, DebugTraceSendsTheWholeText)
{
    // The whole text is the length plus 5 and the terminator: 506 just fits the first buffer of
    // 512, 1018 the doubled one.
    for (size_t length : {0, 506, 507, 1018, 1019, 5000}) {
        const std::wstring text(length, L'x');
        EXPECT_EQ(DebugOutputOf([&] { DebugTrace(L"[%s|%d]", text.c_str(), 42); }), L"[" + text + L"|42]") << "length " << length;
    }
    // A failure that cannot be propagated is traced without allocating: cut to what fits.
    const std::wstring path(300, L'p');
    EXPECT_EQ(DebugOutputOf([&] { TraceUnpropagated(new CInternalError(FailureKind::Assert, path.c_str(), 7, 0)); }),
              (L"Zelkor: internal error at " + path).substr(0, 159));
}
