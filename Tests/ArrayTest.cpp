// Arrays: the growth rule, element lifetimes across growth boundaries, index checks, the
// three allocation policies and the failure guarantee.
#include <windows.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Alloc.h"
#include "Array.h"
#include "FastArray.h"
#include "PointerArray.h"
#include "TestSupport.h"

using namespace Zelkor;

namespace {

// The source path of the internal error f raised (a test failure when it raised none).
template <class F>
std::wstring ErrorFileOf(F f)
{
    CInternalError* error = Catch<CInternalError>(f);
    const std::wstring file = error ? error->GetSourceFile() : L"";
    delete error;
    return file;
}

// Counts live objects and notices one used at an address it was not built at (a byte copy
// where a move was due) or after its destruction. The live addresses are kept outside the
// objects: a mark stored into a dying object is a dead store to the optimiser.
struct Tracked {
    static inline std::set<const Tracked*> Addresses;
    static inline int Live = 0;
    int Value;

    Tracked(int value = 0) : Value(value) { Born(); }
    Tracked(const Tracked& other) : Value(other.Checked().Value) { Born(); }
    Tracked(Tracked&& other) noexcept : Value(other.Checked().Value) { other.Value = -1, Born(); }
    ~Tracked() { Checked(), Addresses.erase(this), --Live; }
    void Born() { Addresses.insert(this), ++Live; }
    const Tracked& Checked() const
    {
        EXPECT_EQ(Addresses.count(this), 1u) << "element moved without its move constructor, or used after destruction";
        return *this;
    }
};

// Delegates to the default manager and counts what it served; it can be told to refuse.
struct CCountingManager : IMemoryManager {
    void* Alloc(uint64_t size) override
    {
        if (Refuse)
            ThrowMemoryException();
        ++Allocations;
        return DefaultMemoryManager.Alloc(size);
    }
    void Free(void* block) override { Frees += block != nullptr, DefaultMemoryManager.Free(block); }
    bool Refuse = false;
    int Allocations = 0, Frees = 0;
};

std::vector<int> ValuesOf(const CArray<Tracked>& array)
{
    std::vector<int> values;
    for (const Tracked& t : array)
        values.push_back(t.Checked().Value);
    return values;
}

} // namespace

// Each operation runs on arrays filled to both sides of the growth boundaries and is checked
// against std::vector; the live count catches lost or doubled destructors, and inserting an
// element of the array itself catches a reference left dangling by growth. A copy of each array
// then meets the operation with memory refused: whatever had to grow throws and changes nothing.
TEST(ArrayElements, OperationsMatchVectorAcrossGrowthBoundariesAndFailedGrowthChangesNothing)
{
    using A = CArray<Tracked>;
    using M = std::vector<int>;
    struct Row {
        const char* name;
        int32_t minimumSize;
        void (*ours)(A&, int32_t size);
        void (*model)(M&, int32_t size);
    } rows[] = {
        {"delete 2 in the middle", 4, [](A& a, int32_t) { a.DeleteAt(2, 2); },
         [](M& m, int32_t) { m.erase(m.begin() + 2, m.begin() + 4); }},
        {"size + 9", 0, [](A& a, int32_t n) { a.SetSize(n + 9); }, [](M& m, int32_t n) { m.resize(n + 9); }},
        {"size 2", 2, [](A& a, int32_t) { a.SetSize(2); }, [](M& m, int32_t) { m.resize(2); }},
        {"buffer size + 1", 0, [](A& a, int32_t n) { a.SetBufferSize(n + 1); }, [](M&, int32_t) {}},
        {"add own last element", 1, [](A& a, int32_t n) { a.Add(a[n - 1]); }, [](M& m, int32_t) { m.push_back(m.back()); }},
        {"insert own last element twice", 1, [](A& a, int32_t n) { a.InsertAt(0, a[n - 1], 2); },
         [](M& m, int32_t) { m.insert(m.begin(), 2, m.back()); }},
    };
    CCountingManager manager;
    CMemoryManagerSwitcher switcher(&manager);
    for (int32_t size : {0, 7, 8, 9, 16, 17}) {
        for (const Row& row : rows) {
            if (size < row.minimumSize)
                continue;
            SCOPED_TRACE(std::string(row.name) + " at size " + std::to_string(size));
            A array;
            M model;
            for (int i = 0; i < size; ++i)
                array.Add(Tracked(100 + i)), model.push_back(100 + i);
            A refused(array);
            manager.Refuse = true;
            try {
                row.ours(refused, size);
            } catch (CMemoryException* e) {
                delete e;
                EXPECT_EQ(ValuesOf(refused), ValuesOf(array));
                EXPECT_EQ(refused.GetCapacity(), size);
                EXPECT_EQ(Tracked::Live, 2 * size);
            }
            manager.Refuse = false;
            row.ours(array, size);
            row.model(model, size);
            EXPECT_EQ(ValuesOf(array), model);
            // With every earlier array destroyed, as the last one is checked below.
            EXPECT_EQ(Tracked::Live, array.GetSize() + refused.GetSize());
            EXPECT_LE(array.GetSize(), array.GetCapacity());
        }
    }
    EXPECT_EQ(Tracked::Live, 0);
}

TEST(ArrayChecks, BadIndicesAndSizesAreInternalErrors)
{
    CArray<int> array;
    array.SetSize(3);
    // clang-format off
    const struct { const char* name; void (*action)(CArray<int>&); } rows[] = {
        {"index -1", [](CArray<int>& a) { (void)a[-1]; }}, {"index = size", [](CArray<int>& a) { (void)a[3]; }},
        {"insert past the end", [](CArray<int>& a) { a.InsertAt(4, 9); }},
        {"insert negative count", [](CArray<int>& a) { a.InsertAt(0, 9, -1); }},
        {"insert beyond 32 bits", [](CArray<int>& a) { a.InsertAt(0, 9, INT32_MAX); }},
        {"delete past the end", [](CArray<int>& a) { a.DeleteAt(2, 2); }},
        {"delete negative count", [](CArray<int>& a) { a.DeleteAt(0, -1); }},
        {"negative size", [](CArray<int>& a) { a.SetSize(-1); }}, {"buffer below size", [](CArray<int>& a) { a.SetBufferSize(2); }},
    };
    // clang-format on
    for (const auto& row : rows) {
        EXPECT_EQ(ErrorFileOf([&] { row.action(array); }), L"Inc/Array") << row.name;
        EXPECT_EQ(array.GetSize(), 3) << row.name;
        EXPECT_EQ(array.GetCapacity(), 8) << row.name;
    }
    // Growth stops at the largest size rather than wrap. (A need not met at once shows in the
    // element tests as a capacity below the size.)
    EXPECT_EQ(ArrayInternal::GrownCapacity(INT32_MAX - 100, INT32_MAX - 99, 8), INT32_MAX);
}

// A block remembers its manager: grown on one thread under a switched manager, it is freed
// through that manager from another thread whose manager is the default. The other policies
// never ask the current manager.
TEST(ArrayPolicies, BlockIsFreedByItsManagerOnAnotherThread)
{
    CCountingManager manager;
    CMemoryManagerSwitcher switcher(&manager);
    auto* array = new CArray<int>;
    for (int i = 0; i < 9; ++i)
        array->Add(i);
    CArray<int, ProcessHeap> onProcessHeap;
    onProcessHeap.Add(1);
    EXPECT_EQ(manager.Allocations, 2);
    std::thread([array] { delete array; }).join();
    EXPECT_EQ(manager.Frees, 2);
}

// The inline part serves first; growth moves every element once.
TEST(FastArray, StaysInlineUpToItsSizeThenGrows)
{
    {
        CFastArray<Tracked, 4> objects;
        for (int i = 0; i < 4; ++i)
            objects.Add(Tracked(i));
        EXPECT_FALSE(objects.IsOnHeap());
        objects.Add(objects[3]); // an element of the inline part, which growth leaves
        EXPECT_TRUE(objects.IsOnHeap() && objects.GetCapacity() == 8) << "at least twice the inline size";
        EXPECT_EQ(objects[4].Checked().Value, 3);
        objects.SetSize(9);
        objects.SetSize(3); // an element lost in growth fails its check when destroyed here
        EXPECT_EQ(Tracked::Live, 3);
        EXPECT_EQ(ErrorFileOf([&] { (void)objects[3]; }), L"Inc/FastArray");
    }
    EXPECT_EQ(Tracked::Live, 0);
}

// DeleteAt checks each bound in order; every way out of the array destroys the object.
TEST(PointerArray, DeleteAtChecksEachBoundAndEveryWayOutDestroysTheObject)
{
    // site null: the call passes.
    // clang-format off
    const struct { int32_t index, count; const CCheckSite* site; int32_t sizeAfter; } rows[] = {
        {3, 0, nullptr, 3}, {0, 3, nullptr, 0},
        {4, 0, &CheckSite::PointerArrayDeleteIndexPastEnd, 3}, {-1, -1, &CheckSite::PointerArrayDeleteNegativeIndex, 3},
        {0, -1, &CheckSite::PointerArrayDeleteNegativeCount, 3}, {2, 2, &CheckSite::PointerArrayDeleteCountPastEnd, 3},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "index " << row.index << ", count " << row.count);
        CPointerArray<Tracked> array;
        array.Add(new Tracked);
        array.Add(nullptr);
        array.Add(new Tracked);
        if (!row.site)
            array.DeleteAt(row.index, row.count);
        else
            EXPECT_TRUE(ReportsAt(*row.site, [&] { array.DeleteAt(row.index, row.count); }));
        EXPECT_EQ(array.GetSize(), row.sizeAfter);
        EXPECT_EQ(Tracked::Live, array.GetSize() == 3 ? 2 : array.GetSize());
    }
    EXPECT_EQ(Tracked::Live, 0);

    // Seven in, two deleted, one replaced, one detached, one cut off by SetSize.
    CPointerArray<Tracked> array;
    for (int i = 0; i < 6; ++i)
        array.Add(new Tracked);
    array.InsertAt(0, new Tracked);
    array.DeleteAt(1, 2);
    array.SetAt(0, new Tracked);
    Tracked* detached = array.Detach(4);
    array.SetSize(3);
    EXPECT_EQ(Tracked::Live, 4); // 3 held and the detached one
    delete detached;
    array.DeleteAll();
    EXPECT_EQ(Tracked::Live, 0);
    EXPECT_EQ(array.GetCapacity(), 0);
}
