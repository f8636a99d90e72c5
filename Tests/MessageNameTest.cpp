// The registration list of message names as the framework alone builds it, and how it stays
// intact while objects come and go, also from several threads at once.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "MessageName.h"

namespace {

using Zelkor::CMessageName;

// The list from head to tail. Fails the test if a Prev link does not mirror the Next link
// that led to its object.
std::vector<std::wstring> WalkList()
{
    std::vector<std::wstring> names;
    Zelkor::CCriticalSectionLock lock(Zelkor::MessageNameListLock);
    const CMessageName* previous = nullptr;
    for (const CMessageName* n = Zelkor::GetMessageNameListHead(); n; n = n->GetNext()) {
        EXPECT_EQ(n->GetPrev(), previous) << "broken Prev link at " << testing::PrintToString(std::wstring(n->GetName()));
        names.push_back(n->GetName());
        previous = n;
        if (names.size() > 100000)
            break; // a cycle
    }
    return names;
}

TEST(MessageName, FrameworkNamesRegisterInTableOrder)
{
    std::vector<std::wstring> names = WalkList();
    ASSERT_EQ(names.size(), 41u);
    EXPECT_EQ(names.front(), L"MSG_VIRTUAL_MEMORY_FILE");
    EXPECT_EQ(names.back(), L"CURRENT_LANGUAGE_NAME");
    // Registered in ascending table order, so the walk from the head descends.
    EXPECT_TRUE(std::is_sorted(names.rbegin(), names.rend())) << testing::PrintToString(names);
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());
    for (const wchar_t* unreferenced :
         {L"ERR_CANT_LOAD_MODULE", L"ERR_NOT_ENOUGH_BITMAP_MEMORY", L"MSG_COMMDLG_BUFFER_TOO_SMALL",
          L"MSG_COMMDLG_GENERIC_ERROR", L"MSG_COMMDLG_INVALID_FILENAME", L"MSG_COMMDLG_RES_NOT_FOUND",
          L"MSG_HELP_CANT_RUN_HELP", L"MSG_HELP_NO_HELP_FILE", L"MSG_OAUTH_TITLE_GOOGLE", L"MSG_OAUTH_TITLE_MICROSOFT"})
        EXPECT_EQ(std::count(names.begin(), names.end(), unreferenced), 0) << testing::PrintToString(std::wstring(unreferenced));
}

// A name the message module does not know would show as its bare name instead of its text.
TEST(MessageName, EveryFrameworkNameIsKnownToTheMessageModule)
{
    wchar_t path[MAX_PATH];
    std::wstring folder(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    folder.resize(folder.find_last_of(L"\\/") + 1);
    HMODULE module = LoadLibraryW((folder + L"Trevalic.dll").c_str());
    ASSERT_NE(module, nullptr) << GetLastError();
    auto getResourceId = reinterpret_cast<uint32_t (*)(const wchar_t*)>(
        reinterpret_cast<void*>(GetProcAddress(module, "GetResourceID")));
    ASSERT_NE(getResourceId, nullptr);
    for (const std::wstring& name : WalkList())
        EXPECT_NE(getResourceId(name.c_str()), 0u) << testing::PrintToString(name);
    FreeLibrary(module);
}

// Three objects registered A, B, C (C becomes the head), then destroyed in every order: the
// list must stay linked both ways after each step, whether the object left is head, middle or tail.
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
    constexpr int ThreadCount = 4;
    for (int t = 0; t < ThreadCount; ++t)
        threads.emplace_back([&ready] {
            // Start together, so that the threads really overlap.
            ready.fetch_add(1, std::memory_order_acq_rel);
            while (ready.load(std::memory_order_acquire) < ThreadCount)
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
