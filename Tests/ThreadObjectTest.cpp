// Per-thread values: separation between threads and objects, lazy reclaiming of ended threads,
// removal of a destroyed thread object's records.
#include <atomic>
#include <memory>
#include <optional>
#include <thread>

#include "TestSupport.h"
#include "ThreadData.h"
#include "ThreadObject.h"

using namespace Zelkor;

namespace {

// Counts the values alive, to see when records are deleted.
std::atomic<int> LiveValues{0};

struct CCounted {
    CCounted() { LiveValues.fetch_add(1); }
    ~CCounted() { LiveValues.fetch_sub(1); }
    int Value = 7;
};

// Any thread creating its first record of some thread object makes the registry reclaim.
const auto CreateFreshRecord = [] { CThreadObject<CCounted>().Get(); };

} // namespace

// Each thread has its own record. An ended thread's records (and the duplicated thread handle)
// wait until another thread creates a record; live threads keep theirs then. Destroying an
// object removes its records from every live thread and leaves the other object's alone.
TEST(ThreadObject, RecordsLiveWithTheirThreadAndObject)
{
    auto doomed = std::make_unique<CThreadObject<CCounted>>();
    CThreadObject<CCounted> kept;
    std::atomic<int> ready{0};
    std::atomic<bool> released{false};
    HANDLE endedThread = nullptr;
    std::vector<std::thread> threads;
    const int base = LiveValues.load();
    for (int i = 0; i < 3; ++i) {
        threads.emplace_back([&, i] {
            doomed->Get();
            EXPECT_EQ(kept.Get().Value, 7) << "another thread's value";
            kept.Get().Value = 11 + i;
            if (i == 0)
                endedThread = (*ThreadDataRegistry.GetCurrentRecords())[static_cast<int32_t>(kept.GetIndex())]->GetThread();
            ready.fetch_add(1);
            while (!released.load())
                Sleep(1);
            EXPECT_EQ(kept.Get().Value, 11 + i) << "a live thread's record was deleted or shared";
        });
    }
    while (ready.load() < 3)
        Sleep(1);
    CreateFreshRecord();
    EXPECT_EQ(LiveValues.load(), base + 6);
    doomed.reset();
    EXPECT_EQ(LiveValues.load(), base + 3);
    released = true;
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(LiveValues.load(), base + 3) << "an ended thread's records wait";
    DWORD flags = 0;
    EXPECT_TRUE(GetHandleInformation(endedThread, &flags)) << "the record keeps its thread handle";
    const int32_t arrays = ThreadDataRegistry.GetArrayCount();
    CreateFreshRecord(); // every ended thread goes, with its record array
    EXPECT_EQ(LiveValues.load(), base);
    EXPECT_LE(ThreadDataRegistry.GetArrayCount(), arrays - 3);
    EXPECT_FALSE(GetHandleInformation(endedThread, &flags)) << "the duplicated handle must be closed";
    // Reading a record leaves the last error alone; a record of another object at its index is an
    // internal error.
    kept.Get(), SetLastError(1234), kept.Get(); // the second takes the fast path
    EXPECT_EQ(GetLastError(), 1234u) << "the fast path changed the last error";
    CThreadObject<CErrorInfo> other;
    ThreadDataRegistry.Store(kept.GetIndex(), new CThreadObject<CErrorInfo>::CThreadData(&other));
    EXPECT_TRUE(ReportsAt(CheckSite::ThreadObjectForeignRecord, [&] { kept.Get(); }));
}

// A registry that finds no thread-local slot free says so and still works: threads share one
// array, and the record stored first for an object stays. Either kind of registry deletes, when
// it ends, the records it still holds.
TEST(ThreadObject, WithoutASlotThreadsShareOneArrayAndEveryRecordEndsWithTheRegistry)
{
    using Record = CThreadObject<CCounted>::CThreadData;
    CThreadObject<CCounted> a, b;
    const int base = LiveValues.load();
    for (const bool exhausted : {false, true}) {
        std::vector<DWORD> taken;
        for (DWORD slot; exhausted && (slot = TlsAlloc()) != TLS_OUT_OF_INDEXES;)
            taken.push_back(slot);
        std::optional<ThreadObjectInternal::CThreadDataRegistry> registry;
        EXPECT_EQ(DebugOutputOf([&] { registry.emplace(); }), exhausted ? L"Not enough TLS indices\n" : L"");
        for (DWORD slot : taken)
            TlsFree(slot);
        Record* first = new Record(&a);
        EXPECT_EQ(registry->Store(a.GetIndex(), first), first);
        std::thread([&] { EXPECT_EQ(registry->Store(a.GetIndex(), new Record(&a)) == first, exhausted); }).join();
        EXPECT_EQ(registry->FindShared(b.GetIndex()), nullptr);
        registry->Store(b.GetIndex(), new Record(&b));
        EXPECT_EQ(registry->FindShared(a.GetIndex()), exhausted ? first : nullptr);
        EXPECT_EQ(LiveValues.load(), base + (exhausted ? 2 : 3));
        registry->RemoveRecordsOf(b.GetIndex());
        EXPECT_EQ(LiveValues.load(), base + (exhausted ? 1 : 2));
        registry->Store(0, new Record(&b)); // the first record of an array goes too
        registry.reset();
        EXPECT_EQ(LiveValues.load(), base) << "exhausted " << exhausted;
    }
}
