// Benchmarks of the framework and the catalogue. Each Bench*.cpp registers its cases; this
// program runs them all in one process and prints one line per measurement.
#include <windows.h>

#include <cstdio>

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

int wmain(int, wchar_t**)
{
    for (const auto& benchCase : Bench::Cases()) {
        std::printf("== %s\n", benchCase.name);
        std::fflush(stdout);
        benchCase.run();
    }
    return 0;
}
