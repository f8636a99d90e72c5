// Registration of benchmark sections, a clock, and the one report every case prints.
//
// A section is a function registered under a name (one Bench*.cpp may register several).
// `ZelkorBench.exe` runs every section; `ZelkorBench.exe NAME...` runs only the sections named
// (letter case ignored). Each case of a section measures our code and a baseline doing the same
// work in the same run and calls Report once; the program ends with the table of every case.
#pragma once

#include <algorithm>
#include <vector>

namespace Bench {

struct Case {
    const char* name; // the section's name
    void (*run)();
};
using CaseList = std::vector<Case>;

CaseList& Cases();
double NowMicroseconds();

// Makes a block escape, as far as the optimiser knows: an empty instruction that takes the
// pointer and may read any memory. Clang deletes a new/delete or malloc/free pair, and the
// copying in between, when the block never escapes; a case passes every block of ours and of
// the baseline alike through here. Nothing is stored: threads escaping blocks at once must not
// share a cache line through it, or a two-thread case measures that line.
inline void Escape(const void* block)
{
    asm volatile("" : : "r"(block) : "memory");
}

struct Register {
    Register(const char* name, void (*run)()) { Cases().push_back({name, run}); }
};

// Prints one line and keeps it for the closing table:
//   case | ours | baseline | speedup = baseline / ours (above 1: ours is faster) | goal | met
// Both times are in microseconds (per operation or per round, as long as both mean the same).
// goalSpeedup is the least speedup wanted: "at least 5 times faster" is 5, "within 1.3 times
// of the baseline" is 1 / 1.3. 0 means the case has no goal and is shown for information.
void Report(const char* name, double oursMicroseconds, double baselineMicroseconds, double goalSpeedup = 0);

// The median of a sorted copy; rounds of a noisy machine are summed up by it.
inline double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : (n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2);
}

struct Medians {
    double ours;
    double baseline;
};

// Runs one round of ours and one of the baseline in turns, `rounds` times after one warm-up
// round each, and returns the median round of each in microseconds. Taking turns makes both
// see the same load of the shared machine.
template <class Ours, class Baseline>
Medians MedianRounds(int rounds, Ours ours, Baseline baseline)
{
    ours();
    baseline();
    std::vector<double> oursTimes, baselineTimes;
    for (int round = 0; round < rounds; ++round) {
        double start = NowMicroseconds();
        ours();
        oursTimes.push_back(NowMicroseconds() - start);
        start = NowMicroseconds();
        baseline();
        baselineTimes.push_back(NowMicroseconds() - start);
    }
    return {Median(oursTimes), Median(baselineTimes)};
}

} // namespace Bench
