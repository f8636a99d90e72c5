// Per-thread values: separation between threads, lazy reclaiming of ended threads, removal of
// a destroyed thread object's records.
#include <windows.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

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
void CreateFreshRecord()
{
    CThreadObject<CCounted> fresh;
    fresh.Get();
}

} // namespace

TEST(ThreadObject, EachThreadAndObjectHasItsOwnValue)
{
    CThreadObject<CCounted> object, later;
    EXPECT_GT(later.GetIndex(), object.GetIndex()); // slots in the order of creation, never shared
    object.Get().Value = 1;
    later.Get().Value = 2;
    const int base = LiveValues.load();
    std::thread([&] {
        EXPECT_EQ(object.Get().Value, 7) << "another thread's value";
        object.Get().Value = 3;
    }).join();
    EXPECT_EQ(object.Get().Value, 1);
    EXPECT_EQ(later.Get().Value, 2);
    EXPECT_EQ(LiveValues.load(), base + 1); // the ended thread's value waits to be reclaimed
    SetLastError(1234);
    object.Get();
    EXPECT_EQ(GetLastError(), 1234u) << "the fast path changed the last error";
}

TEST(ThreadObject, EndedThreadIsReclaimedOnlyWhenAnotherThreadCreatesARecord)
{
    CThreadObject<CCounted> object;
    object.Get();
    const int base = LiveValues.load();
    HANDLE endedThread = nullptr;
    std::thread([&] {
        object.Get();
        endedThread = (*ThreadDataRegistry.GetCurrentRecords())[static_cast<int32_t>(object.GetIndex())]->GetThread();
    }).join();
    DWORD flags = 0;
    EXPECT_TRUE(GetHandleInformation(endedThread, &flags)) << "the record keeps its thread handle";
    object.Get(); // reading an existing record is no occasion to reclaim
    EXPECT_EQ(LiveValues.load(), base + 1);
    CreateFreshRecord();
    EXPECT_EQ(LiveValues.load(), base);
    EXPECT_FALSE(GetHandleInformation(endedThread, &flags)) << "the duplicated handle must be closed";
}

// Live threads keep their own records when another thread reclaims; destroying an object
// removes its records from every live thread and leaves the other object's records alone.
TEST(ThreadObject, LiveThreadsKeepTheirRecordsUntilTheObjectGoes)
{
    auto doomed = std::make_unique<CThreadObject<CCounted>>();
    CThreadObject<CCounted> kept;
    std::atomic<int> ready{0};
    std::atomic<bool> released{false};
    std::vector<std::thread> threads;
    const int base = LiveValues.load();
    for (int i = 0; i < 3; ++i) {
        threads.emplace_back([&, i] {
            doomed->Get();
            kept.Get().Value = 11 + i;
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
    const int32_t arrays = ThreadDataRegistry.GetArrayCount();
    CreateFreshRecord(); // every ended thread goes, with its record array
    EXPECT_EQ(LiveValues.load(), base);
    EXPECT_LE(ThreadDataRegistry.GetArrayCount(), arrays - 3);
}

TEST(ThreadObject, RecordOfAnotherObjectAtItsIndexIsAnAssertion)
{
    CThreadObject<CCounted> object;
    CThreadObject<CErrorInfo> other;
    ThreadDataRegistry.Store(object.GetIndex(), new CThreadObject<CErrorInfo>::CThreadData(&other));
    EXPECT_TRUE(ReportsAt(CheckSite::ThreadObjectForeignRecord, [&] { object.Get(); }));
}
