// Registration of benchmark cases and a clock.
#pragma once

#include <vector>

namespace Bench {

struct Case {
    const char* name;
    void (*run)();
};
using CaseList = std::vector<Case>;

CaseList& Cases();
double NowMicroseconds();

struct Register {
    Register(const char* name, void (*run)()) { Cases().push_back({name, run}); }
};

} // namespace Bench
