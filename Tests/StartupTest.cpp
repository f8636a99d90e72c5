// Module entry and start-up: the module registry, the load verdict after a failure shown during
// static initialisation, the order of construction and teardown, and the debugger trace.
#include "Errors.h"
#include "TestSupport.h"
#include "Zelkor.h"

using namespace Zelkor;

// The probe's statics are built in the order of their rows and destroyed in reverse; the loading
// thread is marked from ZELKOR_ROW_SUPPRESS on, and once loaded the module finds its own record
// in the module registry and the mark cleared by the entry. Teardown: the detach entry removed
// the record and marked the thread before the exit handlers ran; the last of them
// (ZELKOR_ROW_SUPPRESS) cleared the mark before the early statics went. A late row that fails, by
// a check or by exhausted memory, refuses the load. Without a thread-local slot the module loads
// and unloads all the same.
TEST(Startup, LoadOfAFrameworkModule)
{
    // clang-format off
    const struct { const wchar_t* mode; bool withoutSlots; } rows[] = {
        {L"ok", false}, {L"ok", true}, {L"assert", false}, {L"memory", false}};
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(row.mode)) + (row.withoutSlots ? " without slots" : ""));
        SetEnvironmentVariableW(L"STARTUP_PROBE_MODE", row.mode), SetEnvironmentVariableW(L"STARTUP_PROBE_TRACE", L"");
        // Without slots: every thread-local slot of the process is taken, as by a host that spent them.
        std::vector<DWORD> taken;
        for (DWORD index; row.withoutSlots && (index = TlsAlloc()) != TLS_OUT_OF_INDEXES;)
            taken.push_back(index);
        HMODULE module = LoadLibraryW(L"StartupProbe.dll");
        const DWORD error = GetLastError();
        for (DWORD index : taken)
            TlsFree(index);
        const bool loads = std::wstring(row.mode) == L"ok";
        if (loads) {
            ASSERT_NE(module, nullptr) << error;
            auto probeLoaded = ExportOf<void (*)()>(module, "ProbeLoaded");
            ASSERT_NE(probeLoaded, nullptr);
            probeLoaded();
            EXPECT_TRUE(FreeLibrary(module));
        } else {
            EXPECT_EQ(module, nullptr);
            EXPECT_EQ(error, static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
        }
        EXPECT_EQ(GetModuleHandleW(L"StartupProbe.dll"), nullptr) << "the module stayed loaded";
        wchar_t trace[256] = {};
        GetEnvironmentVariableW(L"STARTUP_PROBE_TRACE", trace, 256);
        EXPECT_EQ(std::wstring(trace),
                  std::wstring(L"early+(suppress=0) late+(suppress=1) ") + (loads ? L"loaded(record=1,suppress=0) " : L"") +
                      L"late-(modules=0,suppress=1) early-(modules=0,suppress=0) ");
    }
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

// A module has one record: attached again with other notifications, or detached while unknown,
// it is an internal error that changes no record.
TEST(Startup, ModuleRecords)
{
    const auto module = reinterpret_cast<HMODULE>(0x1000);
    const ModuleNotification other = [](HMODULE) {};
    const int32_t count = ModuleRegistry.GetCount();
    ModuleRegistry.Attach(module, nullptr, nullptr), ModuleRegistry.Attach(module, nullptr, nullptr);
    EXPECT_TRUE(ReportsAt(CheckSite::ModuleAttachedWithOtherAttach, [&] { ModuleRegistry.Attach(module, other, nullptr); }));
    EXPECT_TRUE(ReportsAt(CheckSite::ModuleAttachedWithOtherDetach, [&] { ModuleRegistry.Attach(module, nullptr, other); }));
    EXPECT_EQ(ModuleRegistry.GetCount(), count + 1);
    ModuleRegistry.Detach(module);
    EXPECT_TRUE(ReportsAt(CheckSite::ModuleDetachedUnknown, [&] { ModuleRegistry.Detach(module); }));
    EXPECT_EQ(std::pair(ModuleRegistry.GetCount(), ModuleRegistry.Contains(module)), std::pair(count, false));
}
