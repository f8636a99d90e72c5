// Block-pool Take+GiveBack pairs against malloc/free and HeapAlloc/HeapFree of the same size,
// on one thread and on two threads sharing the allocator. Each thread holds a batch of blocks
// at a time, as string code does, so that the allocators cannot just hand one block back and
// forth.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "AtomicBlockManager.h"
#include "Bench.h"
#include "Time.h"

namespace {

using namespace Zelkor;

constexpr int Batch = 16;
constexpr int PairsPerThread = 2000000;
constexpr int Rounds = 9;

struct PoolAllocator {
    CAtomicBlockManager& pool;
    void* Get(size_t) { return pool.Take(); }
    void Put(void* block) { pool.GiveBack(block); }
};
struct MallocAllocator {
    void* Get(size_t size) { return std::malloc(size); }
    void Put(void* block) { std::free(block); }
};
struct ProcessHeapAllocator {
    HANDLE heap = GetProcessHeap();
    void* Get(size_t size) { return HeapAlloc(heap, 0, size); }
    void Put(void* block) { HeapFree(heap, 0, block); }
};

volatile unsigned char Sink;

template <class Allocator>
void RunPairs(Allocator allocator, size_t size, int pairs)
{
    void* held[Batch];
    unsigned char sum = 0;
    for (int done = 0; done < pairs; done += Batch) {
        for (int i = 0; i < Batch; ++i) {
            held[i] = allocator.Get(size);
            Bench::Escape(held[i]);
            static_cast<unsigned char*>(held[i])[0] = static_cast<unsigned char>(i); // keeps the pair real
        }
        for (int i = Batch - 1; i >= 0; --i) {
            sum += static_cast<unsigned char*>(held[i])[0];
            allocator.Put(held[i]);
        }
    }
    Sink = sum;
}

uint64_t ThreadCpuTime100ns()
{
    FILETIME creation, exit, kernel, user;
    GetThreadTimes(GetCurrentThread(), &creation, &exit, &kernel, &user);
    return uint64_t(FileTimeToValue(kernel) + FileTimeToValue(user));
}

// Nanoseconds per pair, summed over `threads` threads that start their pairs together.
// Two threads are timed by their CPU time: the machine is shared, and time spent waiting for a
// core is not the allocator's, while contention still shows, as cache-line transfers and
// repeated swaps. One thread is timed by the clock: its pairs never wait for another thread,
// a round it spent preempted is dropped by the median, and a thread's CPU time advances in
// ticks of 10 ms under Wine, half of a one-thread round.
template <class Allocator>
double Measure(Allocator allocator, size_t size, int threads)
{
    std::atomic<double> total{0};
    std::atomic<int> ready{0};
    auto work = [&] {
        ready.fetch_add(1);
        while (ready.load() < threads)
            YieldProcessor();
        const uint64_t cpuStart = ThreadCpuTime100ns();
        const double clockStart = Bench::NowMicroseconds();
        RunPairs(allocator, size, PairsPerThread);
        const double spent = threads == 1 ? (Bench::NowMicroseconds() - clockStart) * 1000
                                          : static_cast<double>(ThreadCpuTime100ns() - cpuStart) * 100;
        total.fetch_add(spent);
    };
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back(work);
    for (auto& worker : workers)
        worker.join();
    return total.load() / (static_cast<double>(PairsPerThread) * threads);
}

// The three allocators take turns, round by round, so that a change in the machine's load
// hits all three alike; each reports its median round.
void Compare(size_t size, int threads)
{
    CAtomicBlockManager pool(size);
    RunPairs(PoolAllocator{pool}, size, PairsPerThread); // warm-up: pages carved, heaps grown
    RunPairs(MallocAllocator{}, size, PairsPerThread);
    RunPairs(ProcessHeapAllocator{}, size, PairsPerThread);
    std::vector<double> poolTimes, mallocTimes, heapTimes;
    for (int round = 0; round < Rounds; ++round) {
        poolTimes.push_back(Measure(PoolAllocator{pool}, size, threads));
        mallocTimes.push_back(Measure(MallocAllocator{}, size, threads));
        heapTimes.push_back(Measure(ProcessHeapAllocator{}, size, threads));
    }
    const double poolTime = Bench::Median(poolTimes);
    char name[64];
    std::snprintf(name, sizeof name, "pool, %zu bytes, %d thread%s vs malloc", size, threads, threads == 1 ? "" : "s");
    Bench::Report(name, poolTime / 1000, Bench::Median(mallocTimes) / 1000);
    std::snprintf(name, sizeof name, "pool, %zu bytes, %d thread%s vs HeapAlloc", size, threads,
                  threads == 1 ? "" : "s");
    Bench::Report(name, poolTime / 1000, Bench::Median(heapTimes) / 1000);
}

void BenchBlockPool()
{
    for (int threads : {1, 2})
        for (size_t size : {32, 128})
            Compare(size, threads);
}

Bench::Register registration("pools", BenchBlockPool);

} // namespace
