// Block-pool Take+GiveBack pairs against malloc/free and HeapAlloc/HeapFree of the same size,
// on one thread and on two threads sharing the allocator. Each thread holds a batch of blocks
// at a time, as string code does, so that the allocators cannot just hand one block back and
// forth.
#include <windows.h>

#include <algorithm>
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
constexpr int PairsPerThread = 6000000;
constexpr int Rounds = 3;

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

// CPU nanoseconds per pair, summed over `threads` threads running at once. CPU time rather
// than the clock: the machine is shared, and time spent waiting for a core is not the
// allocator's. Contention still shows, as cache-line transfers and repeated swaps.
template <class Allocator>
double Measure(Allocator allocator, size_t size, int threads)
{
    std::atomic<uint64_t> cpu{0};
    auto work = [&] {
        const uint64_t start = ThreadCpuTime100ns();
        RunPairs(allocator, size, PairsPerThread);
        cpu += ThreadCpuTime100ns() - start;
    };
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back(work);
    for (auto& worker : workers)
        worker.join();
    return static_cast<double>(cpu.load()) * 100.0 / (static_cast<double>(PairsPerThread) * threads);
}

// The three allocators take turns, several rounds, and each keeps its best round.
void Compare(size_t size, int threads)
{
    CAtomicBlockManager pool(size);
    RunPairs(PoolAllocator{pool}, size, PairsPerThread); // warm-up: pages carved, heaps grown
    RunPairs(MallocAllocator{}, size, PairsPerThread);
    RunPairs(ProcessHeapAllocator{}, size, PairsPerThread);
    double poolTime = 1e30, mallocTime = 1e30, heapTime = 1e30;
    for (int round = 0; round < Rounds; ++round) {
        poolTime = std::min(poolTime, Measure(PoolAllocator{pool}, size, threads));
        mallocTime = std::min(mallocTime, Measure(MallocAllocator{}, size, threads));
        heapTime = std::min(heapTime, Measure(ProcessHeapAllocator{}, size, threads));
    }
    char name[64];
    std::snprintf(name, sizeof name, "pool, %zu bytes, %d thread%s vs malloc", size, threads, threads == 1 ? "" : "s");
    Bench::Report(name, poolTime / 1000, mallocTime / 1000);
    std::snprintf(name, sizeof name, "pool, %zu bytes, %d thread%s vs HeapAlloc", size, threads,
                  threads == 1 ? "" : "s");
    Bench::Report(name, poolTime / 1000, heapTime / 1000);
}

void BenchBlockPool()
{
    for (int threads : {1, 2})
        for (size_t size : {32, 128})
            Compare(size, threads);
}

Bench::Register registration("pools", BenchBlockPool);

} // namespace
