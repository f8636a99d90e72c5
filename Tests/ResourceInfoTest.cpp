// The resource-module registry (which module supplies a text) and the interface languages. The
// helper modules: MessageModuleA knows MSG_ONLY_A and MSG_SHARED; MessageModuleB knows
// MSG_SHARED and has an id without a string for MSG_ONLY_A; IconModule has no lookup export.
// Which module supplies an icon is the message display's test.
#include <thread>

#include "ResourceInfo.h"
#include "TestSupport.h"
#include "ThreadData.h"

using namespace Zelkor;

namespace {

CMessageName OnlyA(L"MSG_ONLY_A"), Shared(L"MSG_SHARED"), Unknown(L"MSG_NOBODY_KNOWS");

} // namespace

TEST(ResourceModules, NewestModuleThatHasTheTextSuppliesIt)
{
    const HMODULE a = LoadLibraryW(L"MessageModuleA.dll"), b = LoadLibraryW(L"MessageModuleB.dll"), icons = LoadLibraryW(L"IconModule.dll");
    ASSERT_TRUE(a && b && icons) << GetLastError();
    // Registers the modules named by letter (a, b, i for icons) in order, and no other.
    const auto restart = [&](const char* order) {
        while (const HMODULE first = ResourceModuleRegistry.GetModuleAt(0)) // none once all are gone
            UnregisterResourceModule(first);
        for (const char* module = order; *module; ++module)
            RegisterResourceModule(*module == 'a' ? a : *module == 'b' ? b : icons);
    };
    // clang-format off
    const struct { const char* order; const CMessageName& name; const wchar_t* text; } cases[] = {
        {"ab", Shared, L"Shared, from B"},
        {"aba", Shared, L"Shared, from A"}, // registering again makes it the newest
        {"ab", OnlyA, L"Only in A"},        // B has an id but no string
        {"ai", OnlyA, L"Only in A"},        // no lookup export
        {"ab", Unknown, L"(none)"},
    };
    // clang-format on
    for (const auto& c : cases) {
        restart(c.order);
        CUnicodeString text;
        EXPECT_EQ(LoadMessageText(c.name, text) ? std::wstring(text.GetText()) : L"(none)", c.text)
            << c.order << " " << testing::PrintToString(std::wstring(c.name.GetName()));
    }
    EXPECT_EQ((restart("aba"), ResourceModuleRegistry.GetModuleCount()), 2);
    UnregisterResourceModule(a);
    EXPECT_TRUE(ReportsAt(CheckSite::ResourceModuleNotRegistered, [&] { UnregisterResourceModule(a); }));
    EXPECT_TRUE(ReportsAt(CheckSite::ResourceModuleNullHandle, [] { RegisterResourceModule(nullptr); }));
    EXPECT_EQ(ResourceModuleRegistry.GetModuleCount(), 1);
    restart("");
    FreeLibrary(a), FreeLibrary(b), FreeLibrary(icons);
    // The record of a module the registry loaded itself is named by its file, and frees it.
    const CResourceModule* loaded = new CResourceModule(LoadLibraryW(L"MessageModuleB.dll"), false, nullptr, nullptr, nullptr);
    EXPECT_EQ(W(loaded->GetName()), L"MessageModuleB.dll");
    delete loaded;
    EXPECT_EQ(GetModuleHandleW(L"MessageModuleB.dll"), nullptr);
}

// Reset forgets the thread's language and keeps the self-registered modules.
TEST(InterfaceLanguage, ThreadLanguageElseTheProcessLanguageUntilReset)
{
    CResourceModuleRegistry registry;
    HMODULE a = LoadLibraryW(L"MessageModuleA.dll");
    registry.Register(a);
    EXPECT_EQ(registry.GetCurrentLanguage(), -1);
    ThreadLanguageData.Get().Language = 5;
    EXPECT_EQ(std::pair(registry.GetCurrentLanguage(), GetCurrentLanguage()), std::pair(5, 5)); // and the process's registry
    std::thread([&] { EXPECT_EQ(registry.GetCurrentLanguage(), -1); }).join();
    ResetResourceModules();
    EXPECT_EQ(std::pair(registry.GetCurrentLanguage(), GetCurrentLanguage()), std::pair(-1, -1));
    ThreadLanguageData.Get().Language = 5, registry.Reset();
    EXPECT_EQ(registry.GetCurrentLanguage(), -1);
    CUnicodeString text;
    EXPECT_TRUE(registry.LoadMessageText(OnlyA, text));
    registry.Unregister(a), FreeLibrary(a);
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
    EXPECT_EQ(W(ResourceInfoInternal::GetLanguageLocaleName(2, converter)), L"xx-CONVERTED");
    EXPECT_EQ(askedFor, MAKELCID(0x0407, SORT_DEFAULT));
    EXPECT_TRUE(ResourceInfoInternal::GetLanguageLocaleName(12, converter).IsEmpty());
    EXPECT_EQ(W(ResourceInfoInternal::GetLanguageLocaleName(2, nullptr)), L"de-DE");
    ResourceInfoInternal::LocaleNameConverter failing = [](LCID, LPWSTR, int, DWORD) { return 0; };
    EXPECT_TRUE(ReportsAt(CheckSite::LanguageLocaleNameFailed, [&] { ResourceInfoInternal::GetLanguageLocaleName(2, failing); }));
    EXPECT_EQ(W(GetLanguageLocaleName(2)), L"de-DE"); // through the system's own conversion
    for (int32_t language : {0, InterfaceLanguageCount - 1})
        EXPECT_FALSE(RaisesInternalError([&] { IsLanguageSupported(language), GetLanguageLocaleName(language); })) << language;
    for (int32_t language : {-1, InterfaceLanguageCount}) {
        EXPECT_TRUE(ReportsAt(CheckSite::LanguageIndexOutOfRange, [&] { IsLanguageSupported(language); })) << language;
        EXPECT_TRUE(ReportsAt(CheckSite::LanguageLocaleIndexOutOfRange, [&] { GetLanguageLocaleName(language); })) << language;
    }
}
