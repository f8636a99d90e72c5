// Benchmarks of the framework and the catalogue. Each Bench*.cpp registers its sections; this
// program runs them in one process (all, or those named on the command line), prints one line
// per case and ends with the table of all cases.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "Bench.h"

namespace Bench {

namespace {

struct Result {
    std::string line;
    bool hasGoal;
    bool met;
};

std::vector<Result>& Results()
{
    static std::vector<Result> results;
    return results;
}

// Times of nanoseconds to seconds stay readable in one column.
std::string FormatTime(double microseconds)
{
    char text[32];
    if (microseconds < 1)
        std::snprintf(text, sizeof text, "%.1f ns", microseconds * 1000);
    else if (microseconds < 1000)
        std::snprintf(text, sizeof text, "%.2f us", microseconds);
    else
        std::snprintf(text, sizeof text, "%.1f ms", microseconds / 1000);
    return text;
}

} // namespace

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

void Report(const char* name, double oursMicroseconds, double baselineMicroseconds, double goalSpeedup)
{
    const double speedup = oursMicroseconds > 0 ? baselineMicroseconds / oursMicroseconds : 0;
    const bool hasGoal = goalSpeedup > 0;
    const bool met = hasGoal && speedup >= goalSpeedup;
    char goal[32] = "none";
    if (hasGoal)
        std::snprintf(goal, sizeof goal, ">= %.2fx", goalSpeedup);
    char line[256];
    std::snprintf(line, sizeof line, "%-52s ours %10s  baseline %10s  speedup %6.2fx  goal %-8s  %s", name,
                  FormatTime(oursMicroseconds).c_str(), FormatTime(baselineMicroseconds).c_str(), speedup, goal,
                  hasGoal ? (met ? "met" : "NOT MET") : "-");
    std::printf("%s\n", line);
    std::fflush(stdout);
    Results().push_back({line, hasGoal, met});
}

} // namespace Bench

namespace {

bool Selected(const char* section, int argc, wchar_t** argv)
{
    if (argc < 2)
        return true;
    const std::wstring name(section, section + std::strlen(section));
    for (int i = 1; i < argc; ++i) {
        if (_wcsicmp(argv[i], name.c_str()) == 0)
            return true;
    }
    return false;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    int run = 0;
    for (const auto& section : Bench::Cases()) {
        if (!Selected(section.name, argc, argv))
            continue;
        std::printf("== %s\n", section.name);
        std::fflush(stdout);
        section.run();
        ++run;
    }
    if (run == 0) {
        std::printf("no such section; the sections are:\n");
        for (const auto& section : Bench::Cases())
            std::printf("  \"%s\"\n", section.name);
        return 2;
    }
    const auto& results = Bench::Results();
    int goals = 0, met = 0;
    std::printf("\n== all cases (speedup = baseline / ours; above 1: ours is faster)\n");
    for (const auto& result : results) {
        std::printf("%s\n", result.line.c_str());
        goals += result.hasGoal;
        met += result.met;
    }
    std::printf("goals met: %d of %d\n", met, goals);
    return 0;
}
