// Per-thread values: separation between threads, lazy reclaiming of ended threads, removal of
// a destroyed thread object's records.
#include <windows.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Errors.h"
#include "ThreadData.h"
#include "TestSupport.h"
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

template <class F> void RunOnNewThread(F f)
{
    std::thread(f).join();
}

// Any thread creating its first record of some thread object makes the registry reclaim.
void CreateFreshRecord()
{
    CThreadObject<CCounted> fresh;
    fresh.Get();
}

HANDLE RecordThreadHandle(const ThreadObjectInternal::CThreadObjectBase& object)
{
    auto* records = ThreadDataRegistry.GetCurrentRecords();
    if (records == nullptr || static_cast<int32_t>(object.GetIndex()) >= records->GetSize())
        return nullptr;
    auto* record = (*records)[static_cast<int32_t>(object.GetIndex())];
    return record != nullptr ? record->GetThread() : nullptr;
}

} // namespace

TEST(ThreadObject, EachThreadSeesOnlyItsOwnValue)
{
    CThreadObject<CCounted> object;
    object.Get().Value = 1;
    const int base = LiveValues.load();
    std::atomic<int> stage{0};
    std::thread first([&] {
        object.Get().Value = 2;
        for (stage = 1; stage < 2;)
            Sleep(1);
        EXPECT_EQ(object.Get().Value, 2);
    });
    while (stage < 1)
        Sleep(1);
    RunOnNewThread([&] {
        EXPECT_EQ(object.Get().Value, 7);
        object.Get().Value = 3;
    });
    stage = 2;
    first.join();
    EXPECT_EQ(object.Get().Value, 1);
    // Two more threads built one value each; the ended ones are not reclaimed yet.
    EXPECT_EQ(LiveValues.load(), base + 2);
}

TEST(ThreadObject, EndedThreadIsReclaimedOnlyWhenAnotherThreadCreatesARecord)
{
    CThreadObject<CCounted> object;
    object.Get();
    const int base = LiveValues.load();
    HANDLE endedThreadHandle = nullptr;
    RunOnNewThread([&] {
        object.Get();
        endedThreadHandle = RecordThreadHandle(object);
    });
    ASSERT_NE(endedThreadHandle, nullptr);
    DWORD flags = 0;
    EXPECT_TRUE(GetHandleInformation(endedThreadHandle, &flags)) << "the record keeps its thread handle";

    // Reading an existing record is no occasion to reclaim.
    object.Get();
    EXPECT_EQ(LiveValues.load(), base + 1);
    EXPECT_TRUE(GetHandleInformation(endedThreadHandle, &flags));

    CreateFreshRecord();
    EXPECT_EQ(LiveValues.load(), base);
    SetLastError(0);
    EXPECT_FALSE(GetHandleInformation(endedThreadHandle, &flags)) << "the duplicated handle must be closed";
}

// Live threads keep their records when another thread reclaims; destroying an object removes
// its records from every live thread and leaves the other object's records alone.
TEST(ThreadObject, LiveThreadsKeepTheirRecordsUntilTheObjectGoes)
{
    auto doomed = std::make_unique<CThreadObject<CCounted>>();
    CThreadObject<CCounted> kept;
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    const int base = LiveValues.load();
    for (int i = 0; i < 3; ++i) {
        threads.emplace_back([&] {
            doomed->Get();
            kept.Get().Value = 11;
            ready.fetch_add(1);
            WaitForSingleObject(release, INFINITE);
            EXPECT_EQ(kept.Get().Value, 11) << "a live thread's record was deleted";
        });
    }
    while (ready.load() < 3)
        Sleep(1);
    CreateFreshRecord();
    EXPECT_EQ(LiveValues.load(), base + 6);
    doomed.reset();
    EXPECT_EQ(LiveValues.load(), base + 3);
    SetEvent(release);
    for (auto& thread : threads)
        thread.join();
    CloseHandle(release);
}

TEST(ThreadObject, ManyShortThreadsLeaveNoRecordsBehind)
{
    CThreadObject<CCounted> first;
    CThreadObject<CCounted> second;
    first.Get();
    const int base = LiveValues.load();
    const int32_t arraysBefore = ThreadDataRegistry.GetArrayCount();
    for (int wave = 0; wave < 8; ++wave) {
        std::vector<std::thread> threads;
        for (int i = 0; i < 8; ++i)
            threads.emplace_back([&] {
                for (int round = 0; round < 50; ++round)
                    first.Get().Value += second.Get().Value++;
            });
        for (auto& thread : threads)
            thread.join();
    }
    CreateFreshRecord();
    EXPECT_EQ(LiveValues.load(), base);
    EXPECT_LE(ThreadDataRegistry.GetArrayCount(), arraysBefore);
}

TEST(ThreadObject, FastPathKeepsTheLastErrorValue)
{
    CThreadObject<CCounted> object;
    object.Get();
    SetLastError(1234);
    object.Get();
    EXPECT_EQ(GetLastError(), 1234u);
}

TEST(ThreadObject, RecordOfAnotherObjectAtItsIndexIsAnAssertion)
{
    CThreadObject<CCounted> object;
    CThreadObject<CErrorInfo> other;
    ThreadDataRegistry.Store(object.GetIndex(), new CThreadObject<CErrorInfo>::CThreadData(&other));
    EXPECT_TRUE(ReportsAt(CheckSite::ThreadObjectForeignRecord, [&] { object.Get(); }));
}
