// The registration list of message names as the framework alone builds it, and how it stays
// intact while objects come and go, also from several threads at once.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "MessageName.h"
#include "Trevalic.h"

namespace {

using Zelkor::CMessageName;

// Head to tail; fails the test where a Prev link does not mirror the Next link that led there.
std::vector<std::wstring> WalkList()
{
    std::vector<std::wstring> names;
    Zelkor::CCriticalSectionLock lock(Zelkor::MessageNameListLock);
    const CMessageName* previous = nullptr;
    for (const CMessageName* n = Zelkor::GetMessageNameListHead(); n && names.size() < 100000; previous = n, n = n->GetNext()) {
        EXPECT_EQ(n->GetPrev(), previous) << "broken Prev link at " << testing::PrintToString(std::wstring(n->GetName()));
        names.push_back(n->GetName());
    }
    return names;
}

// Registered in ascending table order, so the walk descends; unreferenced names stay out, and a
// name the message module does not know would show as its bare name instead of its text.
TEST(MessageName, FrameworkNamesRegisterInTableOrderAndAreKnownToTheMessageModule)
{
    const std::vector<std::wstring> names = WalkList();
    ASSERT_EQ(names.size(), 41u);
    EXPECT_TRUE(std::adjacent_find(names.begin(), names.end(), std::less_equal<>()) == names.end()) << testing::PrintToString(names);
    HMODULE module = LoadLibraryW(L"Trevalic.dll");
    ASSERT_NE(module, nullptr) << GetLastError();
    auto getResourceId = reinterpret_cast<PFN_GetResourceID>(reinterpret_cast<void (*)()>(GetProcAddress(module, "GetResourceID")));
    for (const std::wstring& name : names)
        EXPECT_NE(getResourceId(name.c_str()), 0u) << testing::PrintToString(name);
    FreeLibrary(module);
}

// Three objects registered A, B, C, destroyed in every order: the list stays linked both ways
// after each step, whether the object leaving is head, middle or tail.
TEST(MessageName, UnregisteringInAnyOrderKeepsTheListLinked)
{
    const std::vector<std::wstring> framework = WalkList();
    const wchar_t* const names[] = {L"TEST_A", L"TEST_B", L"TEST_C"};
    int order[] = {0, 1, 2};
    do {
        SCOPED_TRACE(testing::Message() << "destroyed in order " << order[0] << order[1] << order[2]);
        CMessageName* objects[3];
        std::vector<std::wstring> expected = framework;
        for (int i = 0; i < 3; ++i) {
            objects[i] = new CMessageName(names[i]);
            expected.insert(expected.begin(), names[i]);
        }
        EXPECT_EQ(WalkList(), expected);
        for (int i : order) {
            delete objects[i];
            expected.erase(std::find(expected.begin(), expected.end(), names[i]));
            EXPECT_EQ(WalkList(), expected) << "after destroying " << i;
        }
    } while (std::next_permutation(order, order + 3));
}

// Without the lock, concurrent head insertions lose objects or leave dangling links.
TEST(MessageName, ConcurrentRegistrationKeepsTheListIntact)
{
    const std::vector<std::wstring> framework = WalkList();
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&ready] {
            for (++ready; ready < 4;) // start together, so that the threads really overlap
                std::this_thread::yield();
            for (int i = 0; i < 20000; ++i) {
                CMessageName first(L"TEST_FIRST");
                CMessageName* second = new CMessageName(L"TEST_SECOND");
                CMessageName third(L"TEST_THIRD");
                delete second; // leaves from the middle while other threads insert at the head
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(WalkList(), framework);
}

} // namespace
