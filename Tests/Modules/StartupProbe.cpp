// A framework module for the start-up tests. Its static objects sit early and late in the
// start-up order and leave a trace of their construction and destruction in the process
// environment (STARTUP_PROBE_TRACE), where the test can read it after the module is gone.
// With STARTUP_PROBE_MODE "assert" the late initialiser reports a failed check, with "memory" it
// runs out of memory.
#include <windows.h>

#include <cwchar>
#include <string>

#include "Errors.h"
#include "GuardedStatic.h"
#include "StartupOrder.h"
#include "ThreadData.h"
#include "Zelkor.h"

namespace {

std::wstring ReadVariable(const wchar_t* name)
{
    wchar_t buffer[2048];
    const DWORD length = GetEnvironmentVariableW(name, buffer, 2048);
    return length > 0 && length < 2048 ? std::wstring(buffer, length) : std::wstring();
}

void Trace(const wchar_t* format, int a = 0, int b = 0)
{
    wchar_t token[128];
    _snwprintf(token, 128, format, a, b);
    token[127] = 0;
    const std::wstring trace = ReadVariable(L"STARTUP_PROBE_TRACE") + token + L' ';
    SetEnvironmentVariableW(L"STARTUP_PROBE_TRACE", trace.c_str());
}

int Suppressed()
{
    return Zelkor::ZelkorThreadData.Get().SuppressExceptions ? 1 : 0;
}

class CEarlyWitness {
public:
    CEarlyWitness() { Trace(L"early+"); }
    ~CEarlyWitness() { Trace(L"early-(suppress=%d)", Suppressed()); }
};

class CLateWitness {
public:
    CLateWitness()
    {
        Trace(L"late+(suppress=%d)", Suppressed());
        // A failed check is shown in place, since the loading thread is marked by now; exhausted
        // memory is thrown even then, and the guard must catch it.
        const std::wstring mode = ReadVariable(L"STARTUP_PROBE_MODE");
        Zelkor::GuardedStep([&] {
            if (mode == L"assert")
                Zelkor::Check(false, ZELKOR_HERE(L"Src/StartupProbe"));
            if (mode == L"memory")
                Zelkor::ThrowMemoryException();
        });
    }
    ~CLateWitness() { Trace(L"late-(modules=%d,suppress=%d)", Zelkor::ModuleRegistry.GetCount(), Suppressed()); }
};

ZELKOR_INIT(ZELKOR_ROW_THREAD_OBJECTS + 50) CEarlyWitness EarlyWitness;
ZELKOR_INIT(ZELKOR_ROW_LIBRARY + 50) CLateWitness LateWitness;

} // namespace

extern "C" {

__declspec(dllexport) int ProbeHasOwnRecord()
{
    return Zelkor::ModuleRegistry.Contains(Zelkor::GetZelkorModuleHandle()) ? 1 : 0;
}

__declspec(dllexport) int ProbeSuppressed()
{
    return Suppressed();
}

// Whether a per-thread value keeps what was written to it.
__declspec(dllexport) int ProbeThreadValueKeeps()
{
    Zelkor::ThreadLanguageData.Get().Language = 7;
    const bool kept = Zelkor::ThreadLanguageData.Get().Language == 7;
    Zelkor::ThreadLanguageData.Get().Language = -1;
    return kept ? 1 : 0;
}
}
