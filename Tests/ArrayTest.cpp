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

// Source path and line of the internal error f raised; empty when it raised none.
template <class F>
std::pair<std::wstring, int32_t> ErrorSiteOf(F f)
{
    try {
        f();
    } catch (CInternalError* error) {
        std::pair<std::wstring, int32_t> site{error->GetSourceFile(), error->GetLine()};
        delete error;
        return site;
    }
    return {};
}

// Counts live objects and notices one used at an address it was not built at (a byte copy
// where a move was due) or after its destruction. The live addresses are kept outside the
// objects: a mark stored into a dying object is a dead store to the optimiser.
struct Tracked {
    static std::set<const Tracked*> Addresses;
    static int Live;
    int Value;

    Tracked(int value = 0) : Value(value) { Born(); }
    Tracked(const Tracked& other) : Value(other.Checked().Value) { Born(); }
    Tracked(Tracked&& other) noexcept : Value(other.Checked().Value) { other.Value = -1, Born(); }
    Tracked& operator=(const Tracked& other) { Checked(), Value = other.Checked().Value; return *this; }
    ~Tracked() { Checked(), Addresses.erase(this), --Live; }
    void Born() { Addresses.insert(this), ++Live; }
    const Tracked& Checked() const
    {
        if (Addresses.count(this) == 0)
            ADD_FAILURE() << "element moved without its move constructor, or used after destruction";
        return *this;
    }
};
std::set<const Tracked*> Tracked::Addresses;
int Tracked::Live = 0;

// Delegates to the default manager and counts what it served; it can be told to refuse.
class CCountingManager : public IMemoryManager {
public:
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

TEST(ArrayGrowth, NewCapacityFollowsTheRule)
{
    struct Row {
        int32_t capacity, needed, step, expected;
    } rows[] = {
        {0, 1, 8, 8}, {8, 9, 8, 16}, {10, 11, 8, 18}, {0, 100, 8, 100}, {512, 2000, 512, 2000},
        {1024, 1025, 512, 1536}, {1 << 30, (1 << 30) + 1, 8, (1 << 30) + (1 << 29)},
        {INT32_MAX - 100, INT32_MAX - 99, 8, INT32_MAX}, {INT32_MAX - 3, INT32_MAX, 8, INT32_MAX},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ArrayInternal::GrownCapacity(row.capacity, row.needed, row.step), row.expected)
            << "capacity " << row.capacity << " needed " << row.needed << " step " << row.step;
    CArray<int> array;
    for (int i = 0; i < 9; ++i)
        array.Add(i);
    EXPECT_EQ(array.GetCapacity(), 16);
}

// Each operation runs on arrays filled to both sides of the growth boundaries and is checked
// against std::vector; the live count catches lost or doubled destructors, and inserting an
// element of the array itself catches a reference left dangling by growth.
TEST(ArrayElements, OperationsMatchVectorAcrossGrowthBoundaries)
{
    using A = CArray<Tracked>;
    using M = std::vector<int>;
    struct Row {
        const char* name;
        int32_t minimumSize;
        void (*ours)(A&, int32_t size);
        void (*model)(M&, int32_t size);
    } rows[] = {
        {"add", 0, [](A& a, int32_t) { a.Add(Tracked(7)); }, [](M& m, int32_t) { m.push_back(7); }},
        {"insert 3 in the middle", 3, [](A& a, int32_t) { a.InsertAt(3, Tracked(7), 3); },
         [](M& m, int32_t) { m.insert(m.begin() + 3, 3, 7); }},
        {"insert 20 at the end", 0, [](A& a, int32_t n) { a.InsertAt(n, Tracked(7), 20); },
         [](M& m, int32_t) { m.insert(m.end(), 20, 7); }},
        {"delete 2 in the middle", 4, [](A& a, int32_t) { a.DeleteAt(2, 2); },
         [](M& m, int32_t) { m.erase(m.begin() + 2, m.begin() + 4); }},
        {"size + 9", 0, [](A& a, int32_t n) { a.SetSize(n + 9); }, [](M& m, int32_t n) { m.resize(n + 9); }},
        {"size 2", 2, [](A& a, int32_t) { a.SetSize(2); }, [](M& m, int32_t) { m.resize(2); }},
        {"buffer size + 1", 0, [](A& a, int32_t n) { a.SetBufferSize(n + 1); }, [](M&, int32_t) {}},
        {"add own last element", 1, [](A& a, int32_t n) { a.Add(a[n - 1]); }, [](M& m, int32_t) { m.push_back(m.back()); }},
        {"insert own last element twice", 1, [](A& a, int32_t n) { a.InsertAt(0, a[n - 1], 2); },
         [](M& m, int32_t) { m.insert(m.begin(), 2, m.back()); }},
    };
    for (int32_t size : {0, 7, 8, 9, 16, 17}) {
        for (const Row& row : rows) {
            if (size < row.minimumSize)
                continue;
            SCOPED_TRACE(std::string(row.name) + " at size " + std::to_string(size));
            {
                A array;
                M model;
                for (int i = 0; i < size; ++i)
                    array.Add(Tracked(100 + i)), model.push_back(100 + i);
                row.ours(array, size);
                row.model(model, size);
                EXPECT_EQ(ValuesOf(array), model);
                EXPECT_EQ(Tracked::Live, array.GetSize());
                EXPECT_LE(array.GetSize(), array.GetCapacity());
            }
            EXPECT_EQ(Tracked::Live, 0);
        }
    }
}

TEST(ArrayChecks, BadIndicesAndSizesAreInternalErrors)
{
    CArray<int> array;
    for (int i = 0; i < 3; ++i)
        array.Add(i);
    struct Row {
        const char* name;
        void (*action)(CArray<int>&);
    } rows[] = {
        {"index -1", [](CArray<int>& a) { (void)a[-1]; }},
        {"index = size", [](CArray<int>& a) { (void)a[3]; }},
        {"insert past the end", [](CArray<int>& a) { a.InsertAt(4, 9); }},
        {"insert negative count", [](CArray<int>& a) { a.InsertAt(0, 9, -1); }},
        {"insert beyond 32 bits", [](CArray<int>& a) { a.InsertAt(0, 9, INT32_MAX); }},
        {"delete past the end", [](CArray<int>& a) { a.DeleteAt(2, 2); }},
        {"delete negative count", [](CArray<int>& a) { a.DeleteAt(0, -1); }},
        {"negative size", [](CArray<int>& a) { a.SetSize(-1); }},
        {"buffer below size", [](CArray<int>& a) { a.SetBufferSize(2); }},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ErrorSiteOf([&] { row.action(array); }).first, L"Inc/Array") << row.name;
        EXPECT_EQ(array.GetSize(), 3) << row.name;
        EXPECT_EQ(array.GetCapacity(), 8) << row.name;
    }
}

// A block remembers its manager: grown on one thread under a switched manager, it is freed
// through that manager from another thread whose manager is the default.
TEST(ArrayPolicies, BlockIsFreedByItsManagerOnAnotherThread)
{
    CCountingManager manager;
    auto* array = new CArray<int>;
    {
        CMemoryManagerSwitcher switcher(&manager);
        for (int i = 0; i < 9; ++i)
            array->Add(i);
    }
    EXPECT_EQ(manager.Allocations, 2);
    EXPECT_EQ(manager.Frees, 1);
    std::thread([array] { delete array; }).join();
    EXPECT_EQ(manager.Frees, 2);

    CMemoryManagerSwitcher switcher(&manager);
    CArray<int, ProcessHeap> onProcessHeap;
    onProcessHeap.Add(1);
    EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, onProcessHeap.GetBuffer()));
    EXPECT_EQ(manager.Allocations, 2); // the other policies never ask the current manager
}

TEST(ArrayPolicies, FailedGrowthChangesNothing)
{
    CCountingManager manager;
    CMemoryManagerSwitcher switcher(&manager);
    {
        CArray<Tracked> array;
        for (int i = 0; i < 8; ++i)
            array.Add(Tracked(i));
        const Tracked* buffer = array.GetBuffer();
        manager.Refuse = true;
        struct Row {
            const char* name;
            void (*action)(CArray<Tracked>&);
        } rows[] = {
            {"add", [](CArray<Tracked>& a) { a.Add(Tracked(9)); }},
            {"insert", [](CArray<Tracked>& a) { a.InsertAt(2, Tracked(9), 3); }},
            {"set size", [](CArray<Tracked>& a) { a.SetSize(20); }},
            {"set buffer size", [](CArray<Tracked>& a) { a.SetBufferSize(30); }},
        };
        for (const Row& row : rows) {
            delete Catch<CMemoryException>([&] { row.action(array); });
            EXPECT_EQ(array.GetSize(), 8) << row.name;
            EXPECT_EQ(array.GetCapacity(), 8) << row.name;
            EXPECT_EQ(array.GetBuffer(), buffer) << row.name;
            EXPECT_EQ(ValuesOf(array), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7})) << row.name;
            EXPECT_EQ(Tracked::Live, 8) << row.name;
        }
        manager.Refuse = false;
    }
    EXPECT_EQ(Tracked::Live, 0);
}

TEST(FastArray, StaysInlineUpToItsSizeThenGrows)
{
    CFastArray<wchar_t, 512> buffer;
    buffer.Grow(512);
    EXPECT_FALSE(buffer.IsOnHeap());
    for (int i = 0; i < 300; ++i)
        buffer.Add(static_cast<wchar_t>(L'a' + i % 26));
    buffer.Grow(600);
    EXPECT_TRUE(buffer.IsOnHeap());
    EXPECT_EQ(buffer.GetCapacity(), 1024);
    EXPECT_EQ(buffer[299], static_cast<wchar_t>(L'a' + 299 % 26));
    buffer.Grow(1000);
    EXPECT_EQ(buffer.GetCapacity(), 1024); // it only grows when it must
    buffer.Grow(1025);
    EXPECT_EQ(buffer.GetCapacity(), 1536);
    EXPECT_EQ(ErrorSiteOf([&] { (void)buffer[300]; }).first, L"Inc/FastArray");
    {
        CFastArray<Tracked, 4> objects;
        for (int i = 0; i < 9; ++i)
            objects.Add(Tracked(i));
        EXPECT_EQ(objects.GetCapacity(), 12);
        objects.SetSize(3);
        EXPECT_EQ(Tracked::Live, 3);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(objects[i].Checked().Value, i);
    }
    EXPECT_EQ(Tracked::Live, 0);
}

namespace {

struct CBase {
    static int Live;
    CBase() { ++Live; }
    virtual ~CBase() { --Live; }
};
int CBase::Live = 0;

struct CDerived : CBase {
    static int Live;
    CDerived() { ++Live; }
    ~CDerived() override { --Live; }
};
int CDerived::Live = 0;

} // namespace

TEST(PointerArray, DeleteAtChecksEachBoundInOrder)
{
    struct Row {
        int32_t index, count;
        const CCheckSite* site; // null: passes
        int32_t sizeAfter;
    } rows[] = {
        {3, 0, nullptr, 3},
        {4, 0, &CheckSite::PointerArrayDeleteIndexPastEnd, 3},
        {-1, -1, &CheckSite::PointerArrayDeleteNegativeIndex, 3},
        {0, -1, &CheckSite::PointerArrayDeleteNegativeCount, 3},
        {2, 2, &CheckSite::PointerArrayDeleteCountPastEnd, 3},
        {1, 2, nullptr, 1},
        {0, 3, nullptr, 0},
    };
    for (const Row& row : rows) {
        CPointerArray<CBase> array;
        array.Add(new CDerived);
        array.Add(nullptr);
        array.Add(new CBase);
        const auto deleteRow = [&] { array.DeleteAt(row.index, row.count); };
        if (row.site)
            EXPECT_TRUE(ReportsAt(*row.site, deleteRow)) << row.index << "," << row.count;
        else
            deleteRow();
        EXPECT_EQ(array.GetSize(), row.sizeAfter) << row.index << "," << row.count;
        EXPECT_EQ(CBase::Live, array.GetSize() == 3 ? 2 : array.GetSize()) << row.index << "," << row.count;
    }
    EXPECT_EQ(CBase::Live, 0);
    EXPECT_EQ(CDerived::Live, 0);
}

TEST(PointerArray, EveryWayOutDestroysTheObject)
{
    CPointerArray<CBase> array;
    for (int i = 0; i < 6; ++i)
        array.Add(i % 2 ? static_cast<CBase*>(new CDerived) : new CBase);
    array.InsertAt(0, new CDerived);
    array.DeleteAt(1, 2);
    EXPECT_EQ(CBase::Live, 5);
    array.SetAt(0, new CBase);
    EXPECT_EQ(CDerived::Live, 2);
    CBase* detached = array.Detach(4);
    array.SetSize(3);
    EXPECT_EQ(CBase::Live, 4); // 3 held and the detached one
    delete detached;
    array.DeleteAll();
    EXPECT_EQ(CBase::Live, 0);
    EXPECT_EQ(CDerived::Live, 0);
    EXPECT_EQ(array.GetCapacity(), 0);
}
