// Per-thread values: the lock-free access of an existing record, against a critical section
// taken and left around the same kind of read, and the first access on a new thread (the
// median of many threads), against a thread-local slot.
#include <windows.h>

#include <cstdio>
#include <thread>
#include <vector>

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
    Zelkor::CCriticalSection lock;
    CValue shared;
    constexpr int PerRound = 200000;
    const auto medians = Bench::MedianRounds(
        21,
        [&] {
            for (int i = 0; i < PerRound; ++i)
                ++object.Get().Count;
        },
        [&] {
            for (int i = 0; i < PerRound; ++i) {
                Zelkor::CCriticalSectionLock guard(lock);
                ++shared.Count;
            }
        });
    Bench::Report("thread value: existing record vs critical section", medians.ours / PerRound,
                  medians.baseline / PerRound);
}

// The baseline is the hand-made per-thread record: a thread-local slot and a record from the
// heap, made on the first access.
void FirstAccessOnNewThreads()
{
    Zelkor::CThreadObject<CValue> object;
    const DWORD slot = TlsAlloc();
    constexpr int Threads = 500;
    std::vector<double> ours, baseline;
    for (int i = 0; i < Threads; ++i) {
        std::thread thread([&] {
            double start = Bench::NowMicroseconds();
            object.Get();
            ours.push_back(Bench::NowMicroseconds() - start);
            start = Bench::NowMicroseconds();
            auto* value = static_cast<CValue*>(TlsGetValue(slot));
            if (!value) {
                value = new CValue;
                TlsSetValue(slot, value);
            }
            baseline.push_back(Bench::NowMicroseconds() - start);
            delete value;
        });
        thread.join();
    }
    TlsFree(slot);
    Bench::Report("thread value: first Get on a new thread vs TLS slot", Bench::Median(ours), Bench::Median(baseline));
}

void ThreadObjects()
{
    ExistingRecord();
    FirstAccessOnNewThreads();
}

Bench::Register threadObjects("threadobject", ThreadObjects);

} // namespace
