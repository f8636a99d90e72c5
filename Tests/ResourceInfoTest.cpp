// The resource-module registry (which module supplies a text or an icon) and the interface
// languages. The helper modules: MessageModuleA knows MSG_ONLY_A and MSG_SHARED; MessageModuleB
// knows MSG_SHARED and has an id without a string for MSG_ONLY_A; IconModule has no lookup
// export but icon groups PROBEICON and SHAREDICON, which MessageModuleA also has.
#include <windows.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Errors.h"
#include "ResourceInfo.h"
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
        FreeLibrary(a);
        FreeLibrary(b);
        FreeLibrary(icons);
    }

    void RegisterInOrder(std::initializer_list<HMODULE> order)
    {
        for (HMODULE module : order)
            RegisterResourceModule(module);
    }

    std::wstring Describe(HMODULE module) const
    {
        return module == a ? L"A" : module == b ? L"B" : module == icons ? L"icons" : module ? L"?" : L"none";
    }

    HMODULE a = nullptr;
    HMODULE b = nullptr;
    HMODULE icons = nullptr;
};

template <class F> bool ReportsCheckAt(const wchar_t* source, int32_t line, uint32_t errorCode, F f)
{
    try {
        f();
    } catch (CInternalError* e) {
        const bool matches =
            std::wstring(e->GetSourceFile()) == source && e->GetLine() == line && e->GetErrorCode() == errorCode;
        delete e;
        return matches;
    }
    return false;
}

} // namespace

TEST_F(ResourceModules, NewestModuleThatHasTheTextSuppliesIt)
{
    struct Case {
        const char* Order;
        std::vector<HMODULE> Modules;
        const CMessageName* Name;
        const wchar_t* Text; // null: no module supplies it
    };
    const Case cases[] = {
        {"A B", {a, b}, &Shared, L"Shared, from B"},
        {"B A", {b, a}, &Shared, L"Shared, from A"},
        {"A B A", {a, b, a}, &Shared, L"Shared, from A"},
        {"A B (B has an id but no string)", {a, b}, &OnlyA, L"Only in A"},
        {"A icons (no lookup export)", {a, icons}, &OnlyA, L"Only in A"},
        {"icons", {icons}, &OnlyA, nullptr},
        {"A B", {a, b}, &Unknown, nullptr},
        {"none", {}, &Shared, nullptr},
    };
    for (const Case& c : cases) {
        for (HMODULE module : c.Modules)
            RegisterResourceModule(module);
        CUnicodeString text;
        const bool found = LoadMessageText(*c.Name, text);
        EXPECT_EQ(found, c.Text != nullptr) << c.Order << " " << testing::PrintToString(std::wstring(c.Name->GetName()));
        if (found && c.Text != nullptr) {
            EXPECT_EQ(std::wstring(text.GetText()), c.Text) << c.Order;
        }
        TearDown();
        SetUp();
    }
}

TEST_F(ResourceModules, RegisteringAgainMovesTheModuleToTheEnd)
{
    RegisterInOrder({a, b, a});
    ASSERT_EQ(ResourceModuleRegistry.GetModuleCount(), 2);
    EXPECT_EQ(ResourceModuleRegistry.GetModuleAt(0), b);
    EXPECT_EQ(ResourceModuleRegistry.GetModuleAt(1), a);
    UnregisterResourceModule(a);
    EXPECT_EQ(ResourceModuleRegistry.GetModuleCount(), 1);
    EXPECT_EQ(ResourceModuleRegistry.GetModuleAt(0), b);
}

TEST_F(ResourceModules, IconsAreSearchedInEveryModuleNewestFirst)
{
    struct Case {
        std::vector<HMODULE> Modules;
        const wchar_t* Icon;
        HMODULE Expected;
    };
    const Case cases[] = {
        {{a, icons}, L"PROBEICON", icons},
        {{icons, a}, L"PROBEICON", icons},
        {{a, icons}, L"SHAREDICON", icons},
        {{icons, a}, L"SHAREDICON", a},
        {{a, b}, L"PROBEICON", nullptr},
        {{icons}, L"NOSUCHICON", nullptr},
    };
    for (const Case& c : cases) {
        for (HMODULE module : c.Modules)
            RegisterResourceModule(module);
        const HMODULE found = FindIconModule(c.Icon);
        EXPECT_EQ(Describe(found), Describe(c.Expected)) << testing::PrintToString(std::wstring(c.Icon));
        TearDown();
        SetUp();
    }
}

TEST_F(ResourceModules, UnregisteringAnUnknownModuleIsAnAssertion)
{
    RegisterResourceModule(a);
    EXPECT_TRUE(ReportsCheckAt(L"Src/ResourceInfo", 670, 0, [&] { UnregisterResourceModule(b); }));
    EXPECT_EQ(ResourceModuleRegistry.GetModuleCount(), 1);
}

TEST_F(ResourceModules, ModuleRecordKnowsItsFileNameAndExports)
{
    CPtr<CResourceModule> withExports = new CResourceModule(
        a, true, reinterpret_cast<GetResourceIdFunction>(reinterpret_cast<void*>(GetProcAddress(a, "GetResourceID"))),
        nullptr, nullptr);
    EXPECT_EQ(std::wstring(withExports->GetName().GetText()), L"MessageModuleA.dll");
    EXPECT_EQ(withExports->GetReferenceCount(), 1);

    EXPECT_TRUE(ReportsCheckAt(L"Src/ResourceInfo", 317, 0, [] {
        CPtr<CResourceModule> none = new CResourceModule(nullptr, true, nullptr, nullptr, nullptr);
    }));
}

TEST_F(ResourceModules, OnlyAModuleTheRegistryLoadedIsFreedWithItsRecord)
{
    struct Case {
        bool SelfRegistered;
        bool StaysLoaded;
    };
    for (const Case c : {Case{true, true}, Case{false, false}}) {
        HMODULE extra = LoadLibraryW(L"MessageModuleB.dll"); // one more reference than the fixture's
        {
            CPtr<CResourceModule> record = new CResourceModule(extra, c.SelfRegistered, nullptr, nullptr, nullptr);
        }
        FreeLibrary(b);
        EXPECT_EQ(GetModuleHandleW(L"MessageModuleB.dll") != nullptr, c.StaysLoaded) << "self-registered " << c.SelfRegistered;
        if (c.StaysLoaded)
            FreeLibrary(extra);
        b = LoadLibraryW(L"MessageModuleB.dll");
    }
}

TEST(InterfaceLanguage, ThreadLanguageOverridesTheProcessLanguage)
{
    EXPECT_EQ(GetCurrentLanguage(), -1);
    ThreadLanguageData.Get().Language = 2;
    EXPECT_EQ(GetCurrentLanguage(), 2);
    std::thread other([] { EXPECT_EQ(GetCurrentLanguage(), -1); });
    other.join();
    ThreadLanguageData.Get().Language = -1;
}

TEST(InterfaceLanguage, ResetForgetsTheLanguageAndKeepsSelfRegisteredModules)
{
    CResourceModuleRegistry registry;
    HMODULE a = LoadLibraryW(L"MessageModuleA.dll");
    registry.Register(a);
    ThreadLanguageData.Get().Language = 5;
    registry.Reset();
    EXPECT_EQ(ThreadLanguageData.Get().Language, -1);
    EXPECT_EQ(registry.GetCurrentLanguage(), -1);
    EXPECT_EQ(registry.GetModuleCount(), 1);
    CUnicodeString text;
    EXPECT_TRUE(registry.LoadMessageText(OnlyA, text));
    registry.Unregister(a);
    FreeLibrary(a);
}

TEST(InterfaceLanguage, LocaleNames)
{
    static LCID askedFor;
    static int askedCapacity;
    static DWORD askedFlags;
    ResourceInfoInternal::LocaleNameConverter fake = [](LCID locale, LPWSTR name, int capacity, DWORD flags) {
        askedFor = locale;
        askedCapacity = capacity;
        askedFlags = flags;
        wcscpy(name, L"xx-CONVERTED");
        return 13;
    };
    ResourceInfoInternal::LocaleNameConverter failing = [](LCID, LPWSTR, int, DWORD) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    };

    struct Case {
        int32_t Language;
        ResourceInfoInternal::LocaleNameConverter Converter;
        const wchar_t* Name;
    };
    const Case cases[] = {
        {0, nullptr, L"en-US"},      {2, nullptr, L"de-DE"},     {13, nullptr, L"pt-PT"},
        {35, nullptr, L"sr-SP-Cyrl"}, {69, nullptr, L"th-TH"},   {12, nullptr, L""},
        {47, nullptr, L""},          {2, fake, L"xx-CONVERTED"}, {12, fake, L""},
    };
    for (const Case& c : cases) {
        askedFor = 0;
        const CUnicodeString name = ResourceInfoInternal::GetLanguageLocaleName(c.Language, c.Converter);
        EXPECT_EQ(std::wstring(name.GetText()), c.Name) << "slot " << c.Language;
        EXPECT_EQ(name.GetLength(), static_cast<int32_t>(wcslen(c.Name))) << "slot " << c.Language;
    }
    ResourceInfoInternal::GetLanguageLocaleName(2, fake);
    EXPECT_EQ(askedFor, 0x0407u);
    EXPECT_EQ(askedCapacity, 85);
    EXPECT_EQ(askedFlags, 0u);

    EXPECT_TRUE(ReportsCheckAt(L"Src/ResourceInfo", 178, ERROR_INVALID_PARAMETER,
                               [&] { ResourceInfoInternal::GetLanguageLocaleName(2, failing); }));
    EXPECT_EQ(std::wstring(GetLanguageLocaleName(0).GetText()), L"en-US") << "with the system's conversion";
}

TEST(InterfaceLanguage, IndexOutOfRangeIsAnAssertion)
{
    for (int32_t language : {-1, 70, 1000}) {
        EXPECT_TRUE(ReportsCheckAt(L"Src/ResourceInfo", 120, 0, [&] { IsLanguageSupported(language); })) << language;
        EXPECT_TRUE(ReportsCheckAt(L"Src/ResourceInfo", 165, 0, [&] { GetLanguageLocaleName(language); })) << language;
    }
}

TEST(InterfaceLanguage, SupportFollowsTheInstalledLocales)
{
    EXPECT_TRUE(IsLanguageSupported(0));
    EXPECT_TRUE(IsLanguageSupported(2));
    EXPECT_FALSE(IsLanguageSupported(12)) << "empty slot";
    EXPECT_FALSE(IsLanguageSupported(68)) << "empty slot";
}

TEST(InterfaceLanguage, SlotsAreWhereTheLanguagesAre)
{
    const std::vector<int32_t> empty = {12, 30, 31, 32, 33, 41, 44, 45, 46, 47, 48, 49, 50, 51, 52,
                                        53, 54, 55, 56, 57, 58, 59, 60, 66, 67, 68};
    for (int32_t language = 0; language < InterfaceLanguageCount; ++language) {
        const bool isEmpty = std::find(empty.begin(), empty.end(), language) != empty.end();
        const CInterfaceLanguage& slot = InterfaceLanguages[language];
        EXPECT_EQ(slot.LocaleName == nullptr, isEmpty) << "slot " << language;
        EXPECT_EQ(slot.LanguageId == 0, isEmpty) << "slot " << language;
    }
    struct Case {
        int32_t Language;
        const wchar_t* Name;
        LANGID Id;
    };
    const Case cases[] = {{1, L"ru-RU", 0x0419},  {11, L"nb-NO", 0x0414},      {29, L"he-IL", 0x040D},
                          {34, L"hi-IN", 0x0439}, {43, L"sr-SP-Latn", 0x081A}, {61, L"ar-SA", 0x0401},
                          {65, L"zh-TW", 0x0404}, {69, L"th-TH", 0x041E}};
    for (const Case& c : cases) {
        EXPECT_STREQ(InterfaceLanguages[c.Language].LocaleName, c.Name) << "slot " << c.Language;
        EXPECT_EQ(InterfaceLanguages[c.Language].LanguageId, c.Id) << "slot " << c.Language;
    }
}
