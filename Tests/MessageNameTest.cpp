// The registration list of message names as the framework alone builds it, and how it stays
// intact while objects come and go, also from several threads at once.
#include <thread>

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

// Every framework name is registered, and known to the message module: one it did not know would
// show as its bare name instead of its text. Without the lock, concurrent head insertions lose
// objects or leave dangling links. Each object leaves from inside the list or as the head; the
// walk after them finds every link that still points at one that left.
TEST(MessageName, FrameworkNamesAreKnownAndStayLinkedWhileOthersComeAndGo)
{
    const std::vector<std::wstring> framework = WalkList();
    ASSERT_EQ(framework.size(), 41u);
    HMODULE module = LoadLibraryW(L"Trevalic.dll");
    auto getResourceId = ExportOf<PFN_GetResourceID>(module, "GetResourceID");
    ASSERT_NE(getResourceId, nullptr) << GetLastError();
    for (const std::wstring& name : framework)
        EXPECT_NE(getResourceId(name.c_str()), 0u) << testing::PrintToString(name);
    FreeLibrary(module);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 20000; ++i) {
                CMessageName first(L"TEST_FIRST");
                CMessageName* second = new CMessageName(L"TEST_SECOND");
                CMessageName third(L"TEST_THIRD");
                delete second;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(WalkList(), framework);
}

} // namespace
