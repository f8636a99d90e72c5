// The resource-module registry (which module supplies a text or an icon) and the interface
// languages. The helper modules: MessageModuleA knows MSG_ONLY_A and MSG_SHARED; MessageModuleB
// knows MSG_SHARED and has an id without a string for MSG_ONLY_A; IconModule has no lookup
// export but icon groups PROBEICON and SHAREDICON, which MessageModuleA also has.
#include <windows.h>

#include <algorithm>
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
        FreeLibrary(a), FreeLibrary(b), FreeLibrary(icons);
    }

    // Registers the modules in order on a freshly loaded set.
    void Restart(const std::vector<HMODULE>& order)
    {
        std::vector<int> which;
        for (HMODULE module : order)
            which.push_back(module == a ? 0 : module == b ? 1 : 2);
        TearDown();
        SetUp();
        for (int i : which)
            RegisterResourceModule(i == 0 ? a : i == 1 ? b : icons);
    }

    std::wstring Describe(HMODULE module) const
    {
        return module == a ? L"A" : module == b ? L"B" : module == icons ? L"icons" : module ? L"?" : L"none";
    }

    HMODULE a = nullptr, b = nullptr, icons = nullptr;
};

template <class F> bool ReportsCheckAt(const CCheckSite& site, uint32_t errorCode, F f)
{
    try {
        f();
    } catch (CInternalError* e) {
        const bool matches =
            std::wstring(e->GetSourceFile()) == site.sourcePath && e->GetLine() == site.line && e->GetErrorCode() == errorCode;
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
        {"A B (B has an id but no string)", {a, b}, &OnlyA, L"Only in A"},
        {"A icons (no lookup export)", {a, icons}, &OnlyA, L"Only in A"},
        {"icons", {icons}, &OnlyA, nullptr},
        {"A B", {a, b}, &Unknown, nullptr},
        {"none", {}, &Shared, nullptr},
    };
    for (const Case& c : cases) {
        Restart(c.Modules);
        CUnicodeString text;
        EXPECT_EQ(LoadMessageText(*c.Name, text) ? std::wstring(text.GetText()) : L"(none)", c.Text ? c.Text : L"(none)")
            << c.Order << " " << testing::PrintToString(std::wstring(c.Name->GetName()));
    }
}

TEST_F(ResourceModules, RegisteringAgainMovesTheModuleToTheEnd)
{
    Restart({a, b, a});
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
        int Expected; // 0: A, 2: icons, -1: none
    };
    const Case cases[] = {
        {{icons, a}, L"PROBEICON", 2}, {{a, icons}, L"SHAREDICON", 2}, {{icons, a}, L"SHAREDICON", 0},
        {{a, b}, L"PROBEICON", -1}, {{icons}, L"NOSUCHICON", -1},
    };
    for (const Case& c : cases) {
        Restart(c.Modules);
        const HMODULE expected = c.Expected == 0 ? a : c.Expected == 2 ? icons : nullptr;
        EXPECT_EQ(Describe(FindIconModule(c.Icon)), Describe(expected)) << testing::PrintToString(std::wstring(c.Icon));
    }
}

TEST_F(ResourceModules, UnregisteringAnUnknownModuleIsAnAssertion)
{
    RegisterResourceModule(a);
    EXPECT_TRUE(ReportsCheckAt(CheckSite::ResourceModuleNotRegistered, 0, [&] { UnregisterResourceModule(b); }));
    EXPECT_EQ(ResourceModuleRegistry.GetModuleCount(), 1);
}

TEST_F(ResourceModules, ModuleRecordKnowsItsFileNameAndExports)
{
    CPtr<CResourceModule> withExports = new CResourceModule(
        a, true, reinterpret_cast<GetResourceIdFunction>(reinterpret_cast<void*>(GetProcAddress(a, "GetResourceID"))),
        nullptr, nullptr);
    EXPECT_EQ(std::wstring(withExports->GetName().GetText()), L"MessageModuleA.dll");
    EXPECT_EQ(withExports->GetReferenceCount(), 1);

    EXPECT_TRUE(ReportsCheckAt(CheckSite::ResourceModuleNullHandle, 0, [] {
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
    std::thread([] { EXPECT_EQ(GetCurrentLanguage(), -1); }).join();
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
        {0, nullptr, L"en-US"}, {35, nullptr, L"sr-SP-Cyrl"}, {69, nullptr, L"th-TH"},
        {12, nullptr, L""}, {2, fake, L"xx-CONVERTED"}, {12, fake, L""},
    };
    for (const Case& c : cases) {
        const CUnicodeString name = ResourceInfoInternal::GetLanguageLocaleName(c.Language, c.Converter);
        EXPECT_EQ(std::wstring(name.GetText()), c.Name) << "slot " << c.Language;
        EXPECT_EQ(name.GetLength(), static_cast<int32_t>(wcslen(c.Name))) << "slot " << c.Language;
    }
    ResourceInfoInternal::GetLanguageLocaleName(2, fake);
    EXPECT_EQ(askedFor, 0x0407u);
    EXPECT_EQ(askedCapacity, 85);
    EXPECT_EQ(askedFlags, 0u);

    EXPECT_TRUE(ReportsCheckAt(CheckSite::LanguageLocaleNameFailed, ERROR_INVALID_PARAMETER,
                               [&] { ResourceInfoInternal::GetLanguageLocaleName(2, failing); }));
    EXPECT_EQ(std::wstring(GetLanguageLocaleName(0).GetText()), L"en-US") << "with the system's conversion";
}

TEST(InterfaceLanguage, IndexOutOfRangeIsAnAssertion)
{
    for (int32_t language : {-1, 70}) {
        EXPECT_TRUE(ReportsCheckAt(CheckSite::LanguageIndexOutOfRange, 0, [&] { IsLanguageSupported(language); })) << language;
        EXPECT_TRUE(ReportsCheckAt(CheckSite::LanguageLocaleIndexOutOfRange, 0, [&] { GetLanguageLocaleName(language); })) << language;
    }
}
