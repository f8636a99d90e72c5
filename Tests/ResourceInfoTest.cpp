// The resource-module registry (which module supplies a text or an icon) and the interface
// languages. The helper modules: MessageModuleA knows MSG_ONLY_A and MSG_SHARED; MessageModuleB
// knows MSG_SHARED and has an id without a string for MSG_ONLY_A; IconModule has no lookup
// export but icon groups PROBEICON and SHAREDICON, which MessageModuleA also has.
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ResourceInfo.h"
#include "TestSupport.h"
#include "ThreadData.h"

using namespace Zelkor;

namespace {

CMessageName OnlyA(L"MSG_ONLY_A");
CMessageName Shared(L"MSG_SHARED");
CMessageName Unknown(L"MSG_NOBODY_KNOWS");

class ResourceModules : public testing::Test {
protected:
    void SetUp() override
    {
        a = LoadLibraryW(L"MessageModuleA.dll");
        b = LoadLibraryW(L"MessageModuleB.dll");
        icons = LoadLibraryW(L"IconModule.dll");
        ASSERT_TRUE(a && b && icons) << GetLastError();
    }

    void TearDown() override
    {
        while (ResourceModuleRegistry.GetModuleCount() > 0)
            UnregisterResourceModule(ResourceModuleRegistry.GetModuleAt(0));
        FreeLibrary(a), FreeLibrary(b), FreeLibrary(icons);
    }

    // Registers the modules, named by letter (a, b, i for icons), in order on a freshly loaded set.
    void Restart(const char* order)
    {
        TearDown();
        SetUp();
        for (const char* module = order; *module; ++module)
            RegisterResourceModule(*module == 'a' ? a : *module == 'b' ? b : icons);
    }

    HMODULE a = nullptr, b = nullptr, icons = nullptr;
};

} // namespace

TEST_F(ResourceModules, NewestModuleThatHasTheTextSuppliesIt)
{
    // clang-format off
    const struct { const char* order; const CMessageName& name; const wchar_t* text; } cases[] = {
        {"ab", Shared, L"Shared, from B"},
        {"aba", Shared, L"Shared, from A"}, // registering again makes it the newest
        {"ab", OnlyA, L"Only in A"},        // B has an id but no string
        {"ai", OnlyA, L"Only in A"},        // no lookup export
        {"ab", Unknown, L"(none)"},
        {"", Shared, L"(none)"},
    };
    // clang-format on
    for (const auto& c : cases) {
        Restart(c.order);
        CUnicodeString text;
        EXPECT_EQ(LoadMessageText(c.name, text) ? std::wstring(text.GetText()) : L"(none)", c.text)
            << c.order << " " << testing::PrintToString(std::wstring(c.name.GetName()));
    }
    Restart("aba");
    EXPECT_EQ(ResourceModuleRegistry.GetModuleCount(), 2);
    UnregisterResourceModule(a);
    EXPECT_TRUE(ReportsAt(CheckSite::ResourceModuleNotRegistered, [&] { UnregisterResourceModule(a); }));
    EXPECT_EQ(ResourceModuleRegistry.GetModuleCount(), 1);
}

TEST_F(ResourceModules, IconsAreSearchedInEveryModuleNewestFirst)
{
    // clang-format off
    const struct { const char* order; const wchar_t* icon; char expected; } cases[] = {
        {"ia", L"PROBEICON", 'i'}, {"ai", L"SHAREDICON", 'i'}, {"ia", L"SHAREDICON", 'a'}, {"ab", L"PROBEICON", '-'},
    };
    // clang-format on
    for (const auto& c : cases) {
        Restart(c.order);
        const HMODULE expected = c.expected == 'a' ? a : c.expected == 'i' ? icons : nullptr;
        EXPECT_EQ(FindIconModule(c.icon), expected) << c.order << " " << testing::PrintToString(std::wstring(c.icon));
    }
}

TEST_F(ResourceModules, OnlyAModuleTheRegistryLoadedIsFreedWithItsRecord)
{
    for (const bool selfRegistered : {true, false}) {
        HMODULE extra = LoadLibraryW(L"MessageModuleB.dll"); // one more reference than the fixture's
        {
            CPtr<CResourceModule> record = new CResourceModule(extra, selfRegistered, nullptr, nullptr, nullptr);
            EXPECT_EQ(std::wstring(record->GetName().GetText()), L"MessageModuleB.dll");
        }
        FreeLibrary(b);
        EXPECT_EQ(GetModuleHandleW(L"MessageModuleB.dll") != nullptr, selfRegistered) << "self-registered " << selfRegistered;
        if (selfRegistered)
            FreeLibrary(extra);
        b = LoadLibraryW(L"MessageModuleB.dll");
    }
    EXPECT_TRUE(ReportsAt(CheckSite::ResourceModuleNullHandle,
                          [] { CPtr<CResourceModule> none = new CResourceModule(nullptr, true, nullptr, nullptr, nullptr); }));
}

// Reset forgets the thread's language and keeps the self-registered modules.
TEST(InterfaceLanguage, ThreadLanguageElseTheProcessLanguageUntilReset)
{
    CResourceModuleRegistry registry;
    HMODULE a = LoadLibraryW(L"MessageModuleA.dll");
    registry.Register(a);
    EXPECT_EQ(registry.GetCurrentLanguage(), -1);
    ThreadLanguageData.Get().Language = 5;
    EXPECT_EQ(registry.GetCurrentLanguage(), 5);
    std::thread([&] { EXPECT_EQ(registry.GetCurrentLanguage(), -1); }).join();
    registry.Reset();
    EXPECT_EQ(registry.GetCurrentLanguage(), -1);
    CUnicodeString text;
    EXPECT_TRUE(registry.LoadMessageText(OnlyA, text));
    registry.Unregister(a);
    FreeLibrary(a);
}

// The system's conversion gets the slot's locale; its count includes the terminator. Without
// the conversion the slot's own name stands; an empty slot has no name. An index out of range
// is an internal error.
TEST(InterfaceLanguage, LocaleNamesAndIndexRange)
{
    static LCID askedFor;
    ResourceInfoInternal::LocaleNameConverter converter = [](LCID locale, LPWSTR name, int capacity, DWORD flags) {
        askedFor = capacity == 85 && flags == 0 ? locale : 0;
        wcscpy(name, L"xx-CONVERTED");
        return 13;
    };
    int32_t empty = 0;
    while (InterfaceLanguages[empty].LocaleName != nullptr)
        ++empty;
    const CUnicodeString converted = ResourceInfoInternal::GetLanguageLocaleName(2, converter);
    EXPECT_EQ(std::wstring(converted.GetText(), converted.GetLength()), L"xx-CONVERTED");
    EXPECT_EQ(askedFor, MAKELCID(InterfaceLanguages[2].LanguageId, SORT_DEFAULT));
    EXPECT_TRUE(ResourceInfoInternal::GetLanguageLocaleName(empty, converter).IsEmpty());
    EXPECT_STREQ(ResourceInfoInternal::GetLanguageLocaleName(2, nullptr).GetText(), InterfaceLanguages[2].LocaleName);
    ResourceInfoInternal::LocaleNameConverter failing = [](LCID, LPWSTR, int, DWORD) { return 0; };
    EXPECT_TRUE(ReportsAt(CheckSite::LanguageLocaleNameFailed, [&] { ResourceInfoInternal::GetLanguageLocaleName(2, failing); }));
    // Every slot as the system names its locale, which for one slot under Wine is not the table's.
    for (int32_t language = 0; language < empty; ++language) {
        wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
        LCIDToLocaleName(MAKELCID(InterfaceLanguages[language].LanguageId, SORT_DEFAULT), name, LOCALE_NAME_MAX_LENGTH, 0);
        EXPECT_EQ(W(GetLanguageLocaleName(language)), name) << language;
        EXPECT_FALSE(RaisesInternalError([&] { IsLanguageSupported(language); })) << language;
    }
    for (int32_t language : {-1, InterfaceLanguageCount}) {
        EXPECT_TRUE(ReportsAt(CheckSite::LanguageIndexOutOfRange, [&] { IsLanguageSupported(language); })) << language;
        EXPECT_TRUE(ReportsAt(CheckSite::LanguageLocaleIndexOutOfRange, [&] { GetLanguageLocaleName(language); })) << language;
    }
}
