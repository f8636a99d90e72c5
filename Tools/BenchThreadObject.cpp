// Per-thread values: the lock-free access of an existing record, against a critical section
// taken and left around the same kind of read, and the first access on a new thread.
#include <windows.h>

#include <cstdio>
#include <thread>

#include "Bench.h"
#include "Lock.h"
#include "ThreadData.h"
#include "ThreadObject.h"

namespace {

struct CValue {
    int64_t Count = 0;
};

void ExistingRecord()
{
    Zelkor::CThreadObject<CValue> object;
    object.Get();
    constexpr int Rounds = 10000000;
    double start = Bench::NowMicroseconds();
    for (int i = 0; i < Rounds; ++i)
        ++object.Get().Count;
    const double threadObject = (Bench::NowMicroseconds() - start) * 1000.0 / Rounds;

    Zelkor::CCriticalSection lock;
    CValue shared;
    start = Bench::NowMicroseconds();
    for (int i = 0; i < Rounds; ++i) {
        Zelkor::CCriticalSectionLock guard(lock);
        ++shared.Count;
    }
    const double locked = (Bench::NowMicroseconds() - start) * 1000.0 / Rounds;
    std::printf("Get of an existing record: %.2f ns; uncontended critical section: %.2f ns\n", threadObject, locked);
}

void FirstAccessOnNewThreads()
{
    Zelkor::CThreadObject<CValue> object;
    constexpr int Threads = 500;
    double spent = 0;
    for (int i = 0; i < Threads; ++i) {
        std::thread thread([&] {
            const double start = Bench::NowMicroseconds();
            object.Get();
            spent += Bench::NowMicroseconds() - start;
        });
        thread.join();
    }
    std::printf("first Get on a new thread (reclaiming the one before): %.2f us\n", spent / Threads);
}

Bench::Register existing("ThreadObject: existing record", ExistingRecord);
Bench::Register first("ThreadObject: first access", FirstAccessOnNewThreads);

} // namespace
