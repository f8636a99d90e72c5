// The registration list of message names as the framework alone builds it, and how it stays
// intact while objects come and go, also from several threads at once.
#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "MessageName.h"
#include "TestSupport.h"
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
    auto getResourceId = ExportOf<PFN_GetResourceID>(module, "GetResourceID");
    for (const std::wstring& name : names)
        EXPECT_NE(getResourceId(name.c_str()), 0u) << testing::PrintToString(name);
    FreeLibrary(module);
}

// Without the lock, concurrent head insertions lose objects or leave dangling links. Each object
// leaves from inside the list or as the head; the walk right after an object left from inside,
// while its neighbours still stand, shows a Prev link left pointing at it.
TEST(MessageName, RegisteringFromSeveralThreadsKeepsTheListLinked)
{
    const std::vector<std::wstring> framework = WalkList();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 20000; ++i) {
                CMessageName first(L"TEST_FIRST");
                CMessageName* second = new CMessageName(L"TEST_SECOND");
                CMessageName third(L"TEST_THIRD");
                delete second;
                if (i % 64 == 0)
                    WalkList();
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(WalkList(), framework);
}

} // namespace
