// Trevalic.dll loaded the way a host does (from the test's own folder): its export table, the
// message exports and the English string table.
#include <windows.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

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
    F Export(const char* name)
    {
        return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
    }

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

// The fixture and the export suite find the six functions by their undecorated names; here, the
// marker too and nothing else (a build without the module definition would export every symbol).
TEST_F(TrevalicDll, ExportsOnlyTheSixFunctionsAndTheMarker)
{
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(
        base + nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress);
    // LLD numbers the ordinals from 0 and leaves slot 0 empty; an empty slot exports nothing.
    // It also puts the address table right after the DLL's name, at any byte: read bytewise.
    const BYTE* functions = base + exports->AddressOfFunctions;
    DWORD used = 0;
    for (DWORD i = 0; i < exports->NumberOfFunctions; ++i) {
        DWORD rva = 0;
        std::memcpy(&rva, functions + i * sizeof rva, sizeof rva);
        used += rva != 0;
    }
    EXPECT_EQ(used, 7u);
    EXPECT_EQ(exports->NumberOfNames, 7u);
    EXPECT_NE(Export("__ZelkorUsed"), nullptr);
}

// Index i names the message of id 4096 + i, which has a text; the names ascend in ordinal
// order, as the binary search of the lookup by name needs. The lookup by name is exact; an
// unknown name, or none, has id 0, a bad index no name, and no other id a text. That the names
// are the ones the code uses shows in MessageName and in the titles of the document.
TEST_F(TrevalicDll, MessageLookupsByIndexAndName)
{
    // How many inserts each text takes, by id from 4096: the callers pass that many, so a text
    // must use each of %0 to %n-1 once and no other.
    const char inserts[] = "011212101110111111121111111001001146000000123000460";
    ASSERT_EQ(numberOfMessages(), 51);
    EXPECT_EQ(getMessageSystemVersion(), 200);
    std::wstring previous;
    for (int32_t i = 0; i < 51; ++i) {
        const wchar_t* name = getMessageName(i);
        ASSERT_NE(name, nullptr) << "index " << i;
        EXPECT_GT(std::wstring(name), previous) << "index " << i;
        previous = name;
        EXPECT_EQ(getResourceId(name), 4096u + i) << testing::PrintToString(previous);
        const std::wstring text = LoadText(4096 + i);
        EXPECT_NE(text, L"") << testing::PrintToString(previous);
        for (wchar_t digit = L'0'; digit <= L'9'; ++digit) {
            const wchar_t insert[] = {L'%', digit, 0};
            size_t uses = 0;
            for (size_t at = text.find(insert); at != std::wstring::npos; at = text.find(insert, at + 2))
                ++uses;
            EXPECT_EQ(uses, digit - L'0' < inserts[i] - '0' ? 1u : 0u) << testing::PrintToString(previous) << " %" << char(digit);
        }
    }
    for (int32_t index : {-1, 51, INT_MAX})
        EXPECT_EQ(getMessageName(index), nullptr) << "index " << index;
    for (uint32_t id : {4095u, 4147u, 4159u})
        EXPECT_EQ(LoadText(id), L"") << "id " << id;
    EXPECT_EQ(LoadText(4096), L"English (English)\x200E");
    // Around the first and the last name, a prefix and an extension of a name, another case, and
    // a unit that sorts last only when compared unsigned.
    for (const wchar_t* name : {L"", L"CURRENT_LANGUAGE_NAM", L"MSG_VIRTUAL_MEMORY_FILES", L"MSG_ASSER", L"MSG_ASSERTLASTERRO",
                                L"MSG_ASSERTX", L"msg_assert", L"\xFFFF"})
        EXPECT_EQ(getResourceId(name), 0u) << testing::PrintToString(std::wstring(name));
    EXPECT_EQ(getResourceId(nullptr), 0u);
}

// Only the four blocks of ids 4096 to 4159, only in English (United States).
TEST_F(TrevalicDll, StringTableHasOnlyTheEnglishMessageBlocks)
{
    using Blocks = std::vector<std::pair<ULONG_PTR, WORD>>;
    Blocks blocks;
    EnumResourceNamesW(
        module, RT_STRING,
        [](HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR list) -> BOOL {
            return EnumResourceLanguagesW(
                module, type, name,
                [](HMODULE, LPCWSTR, LPCWSTR name, WORD language, LONG_PTR list) -> BOOL {
                    return reinterpret_cast<Blocks*>(list)->emplace_back(reinterpret_cast<ULONG_PTR>(name), language), TRUE;
                },
                list);
        },
        reinterpret_cast<LONG_PTR>(&blocks));
    EXPECT_EQ(blocks, (Blocks{{257, 1033}, {258, 1033}, {259, 1033}, {260, 1033}}));
}

} // namespace
