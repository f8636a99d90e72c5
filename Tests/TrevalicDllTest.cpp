// Trevalic.dll loaded the way a host does (from the test's own folder): its export table, the
// message exports and the English string table; last, the registration list as linked here.
#include <windows.h>

#include <algorithm>
#include <climits>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CatalogueMessages.h"
#include "MessageName.h"
#include "Trevalic.h"

namespace {

class TrevalicDll : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(module, nullptr) << "LoadLibraryW failed with " << GetLastError();
        ASSERT_TRUE(getResourceId && getMessageName && numberOfMessages && getMessageSystemVersion);
    }
    void TearDown() override { EXPECT_TRUE(!module || FreeLibrary(module)); }
    template <class F = void*>
    F Export(const char* name) { return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name))); }

    // Exactly as stored: with no buffer LoadStringW gives a pointer into the resource and the length.
    std::wstring LoadText(uint32_t id)
    {
        const wchar_t* text = nullptr;
        const int length = LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0);
        return length > 0 ? std::wstring(text, length) : std::wstring();
    }

    // Found in the program's own folder first, as a host finds it beside itself.
    const HMODULE module = LoadLibraryW(L"Trevalic.dll");
    const PFN_GetResourceID getResourceId = Export<PFN_GetResourceID>("GetResourceID");
    const PFN_GetMessageName getMessageName = Export<PFN_GetMessageName>("GetMessageName");
    const PFN_NumberOfMessages numberOfMessages = Export<PFN_NumberOfMessages>("NumberOfMessages");
    const PFN_GetMessageSystemVersion getMessageSystemVersion = Export<PFN_GetMessageSystemVersion>("GetMessageSystemVersion");
};

// The fixture finds the exports by their undecorated names; here, that nothing else is exported
// (a build without the module definition would export every symbol).
TEST_F(TrevalicDll, ExportsOnlyTheSixFunctionsAndTheMarker)
{
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(
        base + nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress);
    const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    EXPECT_EQ(exports->NumberOfFunctions, 7u);
    std::set<std::string> seen;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        seen.insert(reinterpret_cast<const char*>(base + names[i]));
    EXPECT_EQ(seen, (std::set<std::string>{"GetProvidersList", "GetTrevalicListJson", "GetResourceID", "NumberOfMessages",
                                           "GetMessageName", "GetMessageSystemVersion", "__ZelkorUsed"}));
}

// Index i names the message of id 4096 + i, which has a text; the names ascend in ordinal
// order, as the binary search of the lookup by name needs. The lookup by name is exact; an
// unknown name, or none, has id 0, a bad index no name, and no other id a text. The catalogue's
// titles show in the document (TrevalicExport), the framework's texts in ErrorsTest.
TEST_F(TrevalicDll, MessageLookupsByIndexAndName)
{
    ASSERT_EQ(numberOfMessages(), 51);
    EXPECT_EQ(getMessageSystemVersion(), 200);
    std::wstring previous;
    for (int32_t i = 0; i < 51; ++i) {
        const wchar_t* name = getMessageName(i);
        ASSERT_NE(name, nullptr) << "index " << i;
        EXPECT_GT(std::wstring(name), previous) << "index " << i;
        previous = name;
        EXPECT_EQ(getResourceId(name), 4096u + i) << testing::PrintToString(previous);
        EXPECT_NE(LoadText(4096 + i), L"") << testing::PrintToString(previous);
    }
    for (int32_t index : {-1, 51, INT_MIN, INT_MAX})
        EXPECT_EQ(getMessageName(index), nullptr) << "index " << index;
    for (uint32_t id : {1u, 4095u, 4147u, 4159u, 4160u})
        EXPECT_EQ(LoadText(id), L"") << "id " << id;
    EXPECT_EQ(LoadText(4096), L"English (English)\x200E");
    const std::pair<const wchar_t*, uint32_t> names[] = {
        {L"CURRENT_LANGUAGE_NAME", 4096}, {L"MSG_VIRTUAL_MEMORY_FILE", 4146}, // first and last
        {L"MSG_ASSERT", 4130}, {L"MSG_ASSERTLASTERROR", 4131},               // one a prefix of the other
        {L"ERR_NO_GDI_RESOURCE", 4124}, {L"ERR_NOT_ENOUGH_BITMAP_MEMORY", 4123}, // "_" sorts after capitals
        {L"msg_assert", 0}, {L"Msg_Assert", 0}, {L"MSG_ASSER", 0}, {L"MSG_ASSERTLASTERRO", 0}, {L"MSG_ASSERTX", 0},
        {L"MSG_ASSERT ", 0}, {L" MSG_ASSERT", 0}, {L"", 0}, {L"A", 0}, {L"ZZZ", 0}, {L"MSG_VIRTUAL_MEMORY_FILES", 0},
        {L"CURRENT_LANGUAGE_NAM", 0}, {L"ERR_FILE_BAD_PATH\x00E9", 0},
        {L"\xFFFF", 0}, // compared as unsigned 16-bit units
    };
    for (const auto& [name, id] : names)
        EXPECT_EQ(getResourceId(name), id) << testing::PrintToString(std::wstring(name));
    EXPECT_EQ(getResourceId(nullptr), 0u);
}

// Only the four blocks of ids 4096 to 4159, only in English (United States).
TEST_F(TrevalicDll, StringTableHasOnlyTheEnglishMessageBlocks)
{
    using Blocks = std::vector<std::pair<ULONG_PTR, WORD>>;
    Blocks blocks;
    EnumResourceNamesW(module, RT_STRING, [](HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR list) -> BOOL {
        return EnumResourceLanguagesW(module, type, name, [](HMODULE, LPCWSTR, LPCWSTR name, WORD language, LONG_PTR list) -> BOOL {
            return reinterpret_cast<Blocks*>(list)->emplace_back(reinterpret_cast<ULONG_PTR>(name), language), TRUE;
        }, list);
    }, reinterpret_cast<LONG_PTR>(&blocks));
    EXPECT_EQ(blocks, (Blocks{{257, 1033}, {258, 1033}, {259, 1033}, {260, 1033}}));
}

// Each new object becomes the head: the catalogue's two names register after the framework's
// (MessageName pins those), so they lead the list.
TEST(TrevalicMessageNames, CatalogueNamesRegisterLastAfterTheFramework)
{
    std::vector<std::wstring> walked;
    Zelkor::CCriticalSectionLock lock(Zelkor::MessageNameListLock);
    for (const Zelkor::CMessageName* n = Zelkor::GetMessageNameListHead(); n; n = n->GetNext())
        walked.push_back(n->GetName());
    ASSERT_EQ(walked.size(), 43u);
    EXPECT_EQ(Zelkor::GetMessageNameListHead(), &Trevalic::Messages::MSG_OAUTH_TITLE_GOOGLE);
    EXPECT_EQ(walked[1], L"MSG_OAUTH_TITLE_MICROSOFT");
    EXPECT_TRUE(std::is_sorted(walked.rbegin(), walked.rend() - 2)) << testing::PrintToString(walked);
}

} // namespace
