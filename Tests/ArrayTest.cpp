// Arrays: the growth rule, element lifetimes across growth boundaries, index checks and the
// failure guarantee.
#include <algorithm>
#include <functional>
#include <random>
#include <set>
#include <sstream>

#include "Alloc.h"
#include "Array.h"
#include "FastArray.h"
#include "PointerArray.h"
#include "TestSupport.h"

using namespace Zelkor;

namespace {

// Counts live objects and notices one used at an address it was not built at (a byte copy
// where a move was due) or after its destruction. The live addresses are kept outside the
// objects: a mark stored into a dying object is a dead store to the optimiser. The copy that
// FailingCopy counts down to fails.
struct Tracked {
    static inline std::set<const Tracked*> Addresses;
    static inline int Live = 0, FailingCopy = 0;
    int Value;

    Tracked(int value = 0) : Value(value) { Born(); }
    Tracked(const Tracked& other) : Value(other.Checked().Value)
    {
        if (FailingCopy > 0 && --FailingCopy == 0)
            ThrowMemoryException();
        Born();
    }
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

// The capacities of an array that grows by small steps from nothing (half the capacity, at
// least 8), and of one with 4 elements inline (at least 4), written out rather than computed.
const std::vector<int32_t> ArraySteps = {0, 8, 16, 24, 36, 54, 81, 121, 181, 271, 406, 609, 913};
const std::vector<int32_t> FastArraySteps = {4, 8, 12, 18, 27, 40, 60, 90, 135, 202, 303, 454, 681};

enum class Outcome { Done, InternalError, OutOfMemory };

// One seeded sequence of operations on an array of counted objects, side by side with a
// std::vector and the capacity the growth rule gives. Growth requests stay within the smallest
// step, so every capacity is one of the steps above (SetBufferSize picks one of them too).
// Indices reach one past either end, where the reference expects an internal error and no
// change; memory is refused now and then, where the reference expects CMemoryException and no
// change whenever the operation needs a new block, and so is an element's copy (only a grown
// insertion keeps its new room). Elements of the array itself are added and inserted, which
// growth must not leave dangling. Pointer arrays hold -1 for a null entry.
template <class A>
void RunArraySequence(uint64_t seed, const std::vector<int32_t>& steps)
{
    constexpr bool pointers = std::is_same_v<A, CPointerArray<Tracked>>, fast = !std::is_same_v<A, CArray<Tracked>> && !pointers;
    std::mt19937_64 random(seed);
    const auto draw = [&](int32_t low, int32_t high) { return low + int32_t(random() % uint64_t(high - low + 1)); };
    CCountingManager manager;
    CMemoryManagerSwitcher switcher(&manager);
    std::ostringstream trace;
    trace << (pointers ? "pointer array" : fast ? "fast array" : "array") << ", seed " << seed << ":";
    // Own: the element added or inserted is the array's own element at the index.
    const auto note = [&](const char* what, auto... numbers) { ((trace << ' ' << what) << ... << (' ' + std::to_string(numbers))); };
    {
        A array;
        std::vector<int> model;
        int32_t capacity = steps[0];
        for (int step = 0; step < 200; ++step) {
            const int32_t size = int32_t(model.size());
            const int32_t at = draw(-1, size), count = draw(-1, 3), n = draw(std::max(-1, size - 6), size + 4);
            const bool own = !pointers && random() % 2 && at >= 0 && at < size; // an element of the array itself
            const int value = own ? model[at] : step;
            std::vector<int> expected = model;
            int32_t needed = 0, newCapacity = capacity, copying = 0; // copies of elements made, the own one first
            bool valid = true;
            std::function<void()> operation;
            int kind = int(random() % (fast ? 3 : 7));
            kind = kind == 5 && random() % 8 ? 0 : kind; // DeleteAll now and then
            switch (kind) {
            case 0:
                note("Add", own, value);
                if constexpr (pointers)
                    operation = [&] { array.Add(value % 5 ? new Tracked(value) : nullptr); }, expected.push_back(value % 5 ? value : -1);
                else
                    operation = [&] { own ? array.Add(array[at]) : array.Add(Tracked(value)); }, expected.push_back(value), copying = own;
                needed = size + 1;
                break;
            case 1:
                note("SetSize", n);
                operation = [&] { array.SetSize(n); }, valid = n >= 0, needed = n;
                expected.resize(std::max(n, 0), pointers ? -1 : 0);
                break;
            case 2:
                if constexpr (fast) {
                    note("Grow", n);
                    operation = [&] { array.Grow(n); }, needed = n;
                } else {
                    const int32_t chosen = random() % 4 ? steps[random() % 6] : size - 1;
                    note("SetBufferSize", chosen);
                    operation = [&, chosen] { array.SetBufferSize(chosen); }, valid = chosen >= size,
                    newCapacity = valid ? chosen : capacity;
                }
                break;
            }
            if constexpr (!fast)
                switch (kind) { // what the fast array does not have
                case 3: {
                    const int32_t copies = pointers ? 1 : count;
                    note("InsertAt", at, own, value, copies);
                    if constexpr (pointers)
                        operation = [&] { array.InsertAt(at, new Tracked(value)); };
                    else
                        operation = [&, copies] {
                            own ? array.InsertAt(at, array[at], copies) : array.InsertAt(at, Tracked(value), copies);
                        };
                    valid = at >= 0 && at <= size && copies >= 0, needed = size + copies;
                    copying = pointers || copies <= 0 ? 0 : own + copies;
                    if (valid)
                        expected.insert(expected.begin() + at, copies, value);
                    break;
                }
                case 4:
                    note("DeleteAt", at, count);
                    operation = [&] { array.DeleteAt(at, count); }, valid = at >= 0 && count >= 0 && at <= size - count;
                    if (valid)
                        expected.erase(expected.begin() + at, expected.begin() + at + count);
                    break;
                case 5:
                    note("DeleteAll");
                    operation = [&] { array.DeleteAll(); }, expected.clear(), newCapacity = 0;
                    break;
                case 6:
                    valid = at >= 0 && at < size;
                    if constexpr (pointers) {
                        const bool detach = random() % 2;
                        note(detach ? "Detach" : "SetAt", at);
                        operation = [&, detach] {
                            detach ? delete array.Detach(at) : array.SetAt(at, valid ? new Tracked(value) : nullptr);
                        };
                        if (valid)
                            expected[at] = detach ? -1 : value;
                    } else {
                        note("[]", at);
                        operation = [&] { ASSERT_EQ(array[at].Checked().Value, valid ? model[at] : 0) << trace.str(); };
                    }
                    break;
                }
            if (valid && needed > capacity) {
                const auto next = std::find(steps.begin(), steps.end(), capacity);
                ASSERT_TRUE(next != steps.end() && next + 1 != steps.end()) << "capacity " << capacity << " is off the steps";
                newCapacity = next[1];
            }
            manager.Refuse = random() % 6 == 0;
            const int failing = Tracked::FailingCopy = random() % 4 == 0 ? draw(1, 3) : 0;
            const bool copyFails = valid && failing > 0 && failing <= copying;
            Outcome outcome = Outcome::Done;
            try {
                operation();
            } catch (CException* e) {
                outcome = dynamic_cast<CMemoryException*>(e) ? Outcome::OutOfMemory : Outcome::InternalError;
                delete e;
            }
            const bool allocates = newCapacity != capacity && newCapacity > (fast ? 4 : 0);
            const bool refused = manager.Refuse && allocates;
            ASSERT_EQ(outcome,
                      !valid                     ? Outcome::InternalError
                          : refused || copyFails ? Outcome::OutOfMemory
                                                 : Outcome::Done)
                << trace.str() << (copyFails ? " (a copy failed)" : "");
            manager.Refuse = false, Tracked::FailingCopy = 0;
            if (outcome == Outcome::Done || (copyFails && !refused && kind == 3 && !(own && failing == 1)))
                capacity = newCapacity;
            if (outcome == Outcome::Done)
                model = expected;
            ASSERT_EQ(array.GetSize(), int32_t(model.size())) << trace.str();
            ASSERT_EQ(array.GetCapacity(), capacity) << trace.str();
            int live = 0;
            for (int32_t i = 0; i < array.GetSize(); ++i) {
                if constexpr (pointers)
                    ASSERT_EQ(array[i] ? array[i]->Checked().Value : -1, model[i]) << "element " << i << " after " << trace.str();
                else
                    ASSERT_EQ(array[i].Checked().Value, model[i]) << "element " << i << " after " << trace.str();
                live += model[i] != -1 || !pointers;
            }
            ASSERT_EQ(Tracked::Live, live) << trace.str();
        }
    }
    EXPECT_EQ(Tracked::Live, 0) << trace.str();
    EXPECT_EQ(manager.Allocations, manager.Frees) << trace.str();
}

} // namespace

TEST(ArrayDifferential, EveryArrayMatchesVector)
{
    for (uint64_t seed = 0; seed < SeedCount(150) && !testing::Test::HasFatalFailure(); ++seed) {
        RunArraySequence<CArray<Tracked>>(seed, ArraySteps);
        RunArraySequence<CPointerArray<Tracked>>(seed, ArraySteps);
        RunArraySequence<CFastArray<Tracked, 4>>(seed, FastArraySteps);
    }
}

// Counts the differential stays far from: an insertion beyond the largest size is refused and
// changes nothing, and growth near it stops at the largest capacity.
TEST(ArrayChecks, CountsNearTheLargestSize)
{
    CArray<int> array;
    array.SetSize(3);
    EXPECT_TRUE(RaisesInternalError([&] { array.InsertAt(0, 9, INT32_MAX); }));
    EXPECT_EQ(array.GetSize(), 3);
    EXPECT_EQ((array.SetSize(0), array.GetBuffer()), nullptr); // empty, whatever room it keeps
    EXPECT_EQ(ArrayInternal::GrownCapacity(INT32_MAX - 100, INT32_MAX - 99, 8), INT32_MAX);
}

// DeleteAt checks each bound in order, each at a site of its own.
TEST(PointerArray, DeleteAtChecksEachBoundInOrder)
{
    // clang-format off
    const struct { int32_t index, count; const CCheckSite& site; } rows[] = {
        {4, 0, CheckSite::PointerArrayDeleteIndexPastEnd}, {-1, -1, CheckSite::PointerArrayDeleteNegativeIndex},
        {0, -1, CheckSite::PointerArrayDeleteNegativeCount}, {2, 2, CheckSite::PointerArrayDeleteCountPastEnd},
    };
    // clang-format on
    CPointerArray<Tracked> array;
    array.Add(new Tracked), array.Add(nullptr), array.Add(new Tracked);
    for (const auto& row : rows)
        EXPECT_TRUE(ReportsAt(row.site, [&] { array.DeleteAt(row.index, row.count); })) << row.index << ", " << row.count;
    EXPECT_EQ(array.GetSize(), 3);
}
