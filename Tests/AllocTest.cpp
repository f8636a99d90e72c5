#include <windows.h>

#include <malloc.h>

#include <cstdint>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Alloc.h"
#include "Errors.h"

namespace Zelkor {
namespace {

constexpr uint64_t Huge = uint64_t(1) << 62; // more than any heap can give

// Runs f and returns the internal error it raised (the caller deletes it), or null.
template <class F>
CInternalError* InternalErrorOf(F f)
{
    try {
        f();
    } catch (CInternalError* error) {
        return error;
    }
    return nullptr;
}

template <class F>
bool ThrowsMemoryException(F f)
{
    try {
        f();
    } catch (CMemoryException* exception) {
        delete exception;
        return true;
    }
    return false;
}

TEST(HeapManager, CountsLiveBlocksAndTheirHeapSizes)
{
    CHeapManager manager(0x1000, false);
    const uint64_t sizes[] = {1, 24, 100, 4096, 100000};
    void* blocks[5];
    uint64_t bytes = 0;
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(testing::Message() << "size " << sizes[i]);
        blocks[i] = manager.Alloc(sizes[i]);
        bytes += HeapSize(manager.GetHeap(), 0, blocks[i]);
        EXPECT_GE(HeapSize(manager.GetHeap(), 0, blocks[i]), sizes[i]);
        EXPECT_EQ(manager.GetBlockCount(), i + 1);
        EXPECT_EQ(manager.GetByteCount(), bytes);
    }
    manager.Free(nullptr);
    EXPECT_EQ(manager.GetBlockCount(), 5);
    EXPECT_EQ(manager.GetByteCount(), bytes);
    for (int i = 4; i >= 0; --i)
        manager.Free(blocks[i]);
    EXPECT_EQ(manager.GetBlockCount(), 0);
    EXPECT_EQ(manager.GetByteCount(), 0u);
}

TEST(HeapManager, ExhaustionThrowsAndLeavesTheCountersAlone)
{
    CHeapManager manager(0x1000, false);
    void* block = manager.Alloc(64);
    const uint64_t bytes = manager.GetByteCount();
    EXPECT_TRUE(ThrowsMemoryException([&] { manager.Alloc(Huge); }));
    EXPECT_EQ(manager.GetBlockCount(), 1);
    EXPECT_EQ(manager.GetByteCount(), bytes);
    manager.Free(block);
}

TEST(HeapManager, ForeignOrRepeatedFreeDoesNotCountDown)
{
    CHeapManager manager(0x1000, false);
    CHeapManager other(0x1000, false);
    void* mine = manager.Alloc(32);
    void* foreign = other.Alloc(32);
    manager.Free(foreign);
    EXPECT_EQ(manager.GetBlockCount(), 1);
    other.Free(foreign);
    manager.Free(mine);
    EXPECT_EQ(manager.GetBlockCount(), 0);
}

TEST(HeapManager, DestroyKeepsAHeapWithLiveBlocksUnlessAllowed)
{
    struct Row {
        bool mayDestroyWithLiveBlocks;
        bool liveBlock;
        bool destroyed;
    };
    const Row rows[] = {{false, false, true}, {false, true, false}, {true, false, true}, {true, true, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "may destroy " << row.mayDestroyWithLiveBlocks << ", live block "
                                        << row.liveBlock);
        CHeapManager manager(0x1000, row.mayDestroyWithLiveBlocks);
        void* block = row.liveBlock ? manager.Alloc(48) : nullptr;
        const int32_t blocks = manager.GetBlockCount();
        const uint64_t bytes = manager.GetByteCount();
        EXPECT_EQ(manager.Destroy(), row.destroyed);
        if (row.destroyed) {
            EXPECT_EQ(manager.GetHeap(), nullptr);
            EXPECT_EQ(manager.GetBlockCount(), 0);
            EXPECT_EQ(manager.GetByteCount(), 0u);
            // The block went with the heap: freeing it is harmless, allocating is exhaustion.
            manager.Free(block);
            EXPECT_TRUE(ThrowsMemoryException([&] { manager.Alloc(8); }));
        } else {
            EXPECT_NE(manager.GetHeap(), nullptr);
            EXPECT_EQ(manager.GetBlockCount(), blocks);
            EXPECT_EQ(manager.GetByteCount(), bytes);
            manager.Free(block);
        }
    }
}

TEST(HeapManager, DestroyingTwiceIsAnInternalError)
{
    CHeapManager manager(0x1000, false);
    ASSERT_TRUE(manager.Destroy());
    CInternalError* error = InternalErrorOf([&] { manager.Destroy(); });
    ASSERT_NE(error, nullptr);
    EXPECT_STREQ(error->GetSourceFile(), L"Src/Alloc");
    EXPECT_EQ(error->GetLine(), 551);
    delete error;
}

TEST(VirtualMemoryManager, ServesCommittedReadWritePagesAndReleasesThem)
{
    const uint64_t sizes[] = {1, 0x10000, 0x30001};
    for (uint64_t size : sizes) {
        SCOPED_TRACE(testing::Message() << "size " << size);
        char* block = static_cast<char*>(PageMemoryManager.Alloc(size));
        MEMORY_BASIC_INFORMATION info;
        ASSERT_TRUE(VirtualQuery(block, &info, sizeof info));
        EXPECT_EQ(info.BaseAddress, block);
        EXPECT_EQ(info.State, static_cast<DWORD>(MEM_COMMIT));
        EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_READWRITE));
        EXPECT_GE(info.RegionSize, size);
        block[size - 1] = 1;
        PageMemoryManager.Free(block);
        ASSERT_TRUE(VirtualQuery(block, &info, sizeof info));
        EXPECT_EQ(info.State, static_cast<DWORD>(MEM_FREE));
    }
}

TEST(VirtualMemoryManager, FailuresAreReported)
{
    char* block = static_cast<char*>(PageMemoryManager.Alloc(0x2000));
    CInternalError* error = InternalErrorOf([&] { PageMemoryManager.Free(block + 0x1000); });
    ASSERT_NE(error, nullptr);
    EXPECT_STREQ(error->GetSourceFile(), L"Src/PrivateAllocators");
    EXPECT_EQ(error->GetLine(), 130);
    EXPECT_EQ(error->GetKind(), FailureKind::AssertLastError);
    EXPECT_NE(error->GetErrorCode(), 0u);
    delete error;
    PageMemoryManager.Free(block);
}

class CMarkManager : public IMemoryManager {
public:
    void* Alloc(uint64_t size) override { return DefaultMemoryManager.Alloc(size); }
    void Free(void* block) override { DefaultMemoryManager.Free(block); }
};

TEST(CurrentMemoryManager, SwitchersNestAndRestoreOnScopeExit)
{
    CMarkManager outer, inner;
    EXPECT_EQ(GetCurrentMemoryManager(), &DefaultMemoryManager);
    {
        CMemoryManagerSwitcher first(&outer);
        EXPECT_EQ(GetCurrentMemoryManager(), &outer);
        {
            CMemoryManagerSwitcher second(&inner);
            EXPECT_EQ(GetCurrentMemoryManager(), &inner);
            {
                CMemoryManagerSwitcher third(nullptr); // back to the default
                EXPECT_EQ(GetCurrentMemoryManager(), &DefaultMemoryManager);
            }
            EXPECT_EQ(GetCurrentMemoryManager(), &inner);
        }
        EXPECT_EQ(GetCurrentMemoryManager(), &outer);
    }
    EXPECT_EQ(GetCurrentMemoryManager(), &DefaultMemoryManager);
}

TEST(CurrentMemoryManager, IsPerThread)
{
    CMarkManager mine;
    CMemoryManagerSwitcher switcher(&mine);
    IMemoryManager* seenElsewhere = nullptr;
    std::thread([&] { seenElsewhere = GetCurrentMemoryManager(); }).join();
    EXPECT_EQ(seenElsewhere, &DefaultMemoryManager);
    EXPECT_EQ(GetCurrentMemoryManager(), &mine);
}

TEST(CurrentMemoryManager, ReadingItKeepsTheLastErrorCode)
{
    CMarkManager mine;
    CMemoryManagerSwitcher switcher(&mine);
    SetLastError(1234);
    EXPECT_EQ(GetCurrentMemoryManager(), &mine);
    EXPECT_EQ(GetLastError(), 1234u);
}

struct OnProcessHeap : CAllocatedOn<ProcessHeap> {
    char payload[40];
};
struct OnRuntimeHeap : CAllocatedOn<RuntimeHeap> {
    char payload[40];
};

TEST(AllocatedOn, ObjectsLiveOnTheirHeap)
{
    auto* processObject = new OnProcessHeap;
    EXPECT_GE(HeapSize(GetProcessHeap(), 0, processObject), sizeof(OnProcessHeap));
    delete processObject;
    auto* runtimeObject = new OnRuntimeHeap;
    EXPECT_GE(_msize(runtimeObject), sizeof(OnRuntimeHeap));
    delete runtimeObject;
}

TEST(AllocatedOn, EveryHeapThrowsWhenExhaustedAndServesEmptyRequests)
{
    struct Row {
        const char* name;
        void* (*alloc)(uint64_t);
        void (*free)(void*);
    };
    const Row rows[] = {
        {"process heap", [](uint64_t n) { return ProcessHeap::Alloc(n); }, [](void* b) { ProcessHeap::Free(b); }},
        {"runtime heap", [](uint64_t n) { return RuntimeHeap::Alloc(n); }, [](void* b) { RuntimeHeap::Free(b); }},
        {"default manager", [](uint64_t n) { return DefaultMemoryManager.Alloc(n); },
         [](void* b) { DefaultMemoryManager.Free(b); }},
        {"page manager", [](uint64_t n) { return PageMemoryManager.Alloc(n); },
         [](void* b) { PageMemoryManager.Free(b); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_TRUE(ThrowsMemoryException([&] { row.alloc(Huge); }));
        void* empty = row.alloc(0);
        EXPECT_NE(empty, nullptr);
        row.free(empty);
        row.free(nullptr);
    }
}

TEST(AllocatedOn, RefusedProcessHeapReleaseIsAnInternalError)
{
    CHeapManager other(0x1000, false);
    void* foreign = other.Alloc(32);
    CInternalError* error = InternalErrorOf([&] { ProcessHeap::Free(foreign); });
    ASSERT_NE(error, nullptr);
    EXPECT_STREQ(error->GetSourceFile(), L"Src/Alloc");
    EXPECT_EQ(error->GetLine(), 894);
    EXPECT_EQ(error->GetKind(), FailureKind::AssertLastError);
    EXPECT_NE(error->GetErrorCode(), 0u);
    delete error;
    ProcessHeap::FreeNoThrow(foreign); // reported, not thrown
    other.Free(foreign);
}

bool IsProcessHeap(HANDLE heap)
{
    std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
    heaps.resize(GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()));
    for (HANDLE h : heaps)
        if (h == heap)
            return true;
    return false;
}

// The unload of a framework module releases its string memory whatever is still in use: the
// string heap goes although it counts a block, and the pools' pages go back although a block
// of them is still taken.
TEST(MemoryModule, UnloadReleasesStringHeapAndPoolPagesWithLiveBlocks)
{
    HMODULE module = LoadLibraryW(L"MemoryProbe.dll");
    ASSERT_NE(module, nullptr) << GetLastError();
    auto take = reinterpret_cast<void* (*)()>(reinterpret_cast<void*>(GetProcAddress(module, "TakeStringPoolBlock")));
    auto alloc = reinterpret_cast<void* (*)(uint64_t)>(
        reinterpret_cast<void*>(GetProcAddress(module, "AllocStringHeapBlock")));
    auto heapOf =
        reinterpret_cast<HANDLE (*)()>(reinterpret_cast<void*>(GetProcAddress(module, "GetStringHeapHandle")));
    ASSERT_TRUE(take && alloc && heapOf);

    char* block = static_cast<char*>(take());
    block[31] = 1;
    alloc(1000);
    const HANDLE heap = heapOf();
    ASSERT_NE(heap, StringHeap.GetHeap()) << "the module has its own";
    ASSERT_TRUE(IsProcessHeap(heap));
    MEMORY_BASIC_INFORMATION info;
    ASSERT_TRUE(VirtualQuery(block, &info, sizeof info));
    ASSERT_EQ(info.State, static_cast<DWORD>(MEM_COMMIT));

    ASSERT_TRUE(FreeLibrary(module));
    EXPECT_FALSE(IsProcessHeap(heap));
    ASSERT_TRUE(VirtualQuery(block, &info, sizeof info));
    EXPECT_EQ(info.State, static_cast<DWORD>(MEM_FREE));
}

// Start-up goes on without a current-manager slot; every thread then stays on the default.
TEST(MemoryModule, ModuleLoadsWithoutThreadLocalSlots)
{
    HMODULE module = LoadLibraryW(L"MemoryProbe.dll");
    ASSERT_NE(module, nullptr) << GetLastError();
    auto probe = [&] {
        return reinterpret_cast<bool (*)()>(reinterpret_cast<void*>(GetProcAddress(module, "CanSwitchManager")));
    };
    auto canSwitch = probe();
    ASSERT_TRUE(canSwitch);
    EXPECT_TRUE(canSwitch());
    ASSERT_TRUE(FreeLibrary(module));

    std::vector<DWORD> taken;
    for (DWORD index; (index = TlsAlloc()) != TLS_OUT_OF_INDEXES;)
        taken.push_back(index);
    module = LoadLibraryW(L"MemoryProbe.dll");
    for (DWORD index : taken)
        TlsFree(index);
    ASSERT_NE(module, nullptr) << GetLastError();
    canSwitch = probe();
    EXPECT_FALSE(canSwitch());
    EXPECT_TRUE(FreeLibrary(module));
}

} // namespace
} // namespace Zelkor
