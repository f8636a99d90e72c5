// A framework module for the start-up tests. Its static objects sit early and late in the
// start-up order and leave a trace of their construction and destruction in the process
// environment (STARTUP_PROBE_TRACE), where the test can read it after the module is gone.
// With STARTUP_PROBE_MODE "assert" the late initialiser reports a failed check, with "memory" it
// runs out of memory.
#include <windows.h>

#include <cwchar>

#include "Errors.h"
#include "GuardedStatic.h"
#include "StartupOrder.h"
#include "ThreadData.h"
#include "Zelkor.h"

namespace {

// Appends a token, which ends in a space, to the trace.
template <class... Values>
void Trace(const wchar_t* format, Values... values)
{
    wchar_t trace[1024] = {};
    const DWORD length = GetEnvironmentVariableW(L"STARTUP_PROBE_TRACE", trace, 960);
    _snwprintf(trace + (length < 960 ? length : 0), 63, format, values...);
    SetEnvironmentVariableW(L"STARTUP_PROBE_TRACE", trace);
}

int Suppressed()
{
    return Zelkor::ZelkorThreadData.Get().SuppressExceptions ? 1 : 0;
}

class CWitness {
public:
    // The late witness fails as the mode asks. A failed check is shown in place, since the
    // loading thread is marked by then; exhausted memory is thrown even so, and the guard must
    // catch it.
    CWitness(const wchar_t* name, bool late) : name(name)
    {
        Trace(L"%s+(suppress=%d) ", name, Suppressed());
        wchar_t mode[16] = {};
        GetEnvironmentVariableW(L"STARTUP_PROBE_MODE", mode, 16);
        Zelkor::GuardedStep([&] {
            if (late && std::wcscmp(mode, L"assert") == 0)
                Zelkor::Check(false, ZELKOR_HERE(L"Src/StartupProbe"));
            if (late && std::wcscmp(mode, L"memory") == 0)
                Zelkor::ThrowMemoryException();
        });
    }
    ~CWitness() { Trace(L"%s-(modules=%d,suppress=%d) ", name, Zelkor::ModuleRegistry.GetCount(), Suppressed()); }
    const wchar_t* const name;
};

ZELKOR_INIT(ZELKOR_ROW_THREAD_OBJECTS + 50) CWitness EarlyWitness(L"early", false);
ZELKOR_INIT(ZELKOR_ROW_LIBRARY + 50) CWitness LateWitness(L"late", true);

} // namespace

// Traces what the loaded module sees: its own record in the module registry, and the loading
// thread's mark.
extern "C" __declspec(dllexport) void ProbeLoaded()
{
    Trace(L"loaded(record=%d,suppress=%d) ", Zelkor::ModuleRegistry.Contains(Zelkor::GetZelkorModuleHandle()) ? 1 : 0, Suppressed());
}
