// Benchmarks of the framework and the catalogue. Each Bench*.cpp registers its cases; this
// program runs them all in one process and prints one line per measurement.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "Bench.h"

namespace Bench {

CaseList& Cases()
{
    static CaseList cases;
    return cases;
}

double NowMicroseconds()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

} // namespace Bench

// An argument runs only the cases whose name contains it.
int wmain(int argc, wchar_t** argv)
{
    for (const auto& benchCase : Bench::Cases()) {
        if (argc > 1) {
            const std::wstring name(benchCase.name, benchCase.name + std::strlen(benchCase.name));
            if (name.find(argv[1]) == std::wstring::npos)
                continue;
        }
        std::printf("== %s\n", benchCase.name);
        std::fflush(stdout);
        benchCase.run();
    }
    return 0;
}
