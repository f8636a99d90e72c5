// Trevalic.dll loaded the way a host does (from the test's own folder): its export table, the
// message lookups and the English string table; last, the registration list as linked here.
#include <windows.h>

#include <climits>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CatalogueMessages.h"
#include "MessageName.h"
#include "Trevalic.h"

namespace {

struct ExpectedMessage {
    const wchar_t* Name;
    const wchar_t* Text;
};

// Entry i has id 4096 + i.
const ExpectedMessage ExpectedMessages[] = {
    {L"CURRENT_LANGUAGE_NAME", L"English (English)\x200E"},
    {L"ERR_BAD_ARCHIVE", L"%0 is corrupted."},
    {L"ERR_BAD_ARCHIVE_VERSION", L"Invalid version of %0."},
    {L"ERR_BAD_INI_FILE", L"%0 is corrupted (line %1)."},
    {L"ERR_BAD_TEXT_FILE", L"The text file %0 contains invalid characters."},
    {L"ERR_CANT_LOAD_DLL", L"Cannot load DLL %0.\n%1"},
    {L"ERR_CANT_LOAD_MODULE", L"Can't load module %0"},
    {L"ERR_CANT_LOAD_RESOURCE", L"Cannot load resource."},
    {L"ERR_CANT_WRITE_TO_REGISTRY", L"Access to the Windows registry key %0 is prohibited."},
    {L"ERR_CREATE_TEMP_FILE", L"Cannot create a temporary file in %0."},
    {L"ERR_DIR_NOT_EMPTY", L"%0 could not be removed because it is not empty."},
    {L"ERR_DIVIDE_ZERO", L"Internal program error:\nDivision by zero."},
    {L"ERR_FILE_ACCESS_DENIED", L"Access to %0 was denied."},
    {L"ERR_FILE_ALREADY_EXISTS", L"Cannot create %0. The specified file already exists."},
    {L"ERR_FILE_BAD_PATH", L"%0 contains an invalid path."},
    {L"ERR_FILE_BAD_SEEK", L"Seek failed on %0."},
    {L"ERR_FILE_DIRECTORY_FULL", L"%0 could not be created because the directory is full."},
    {L"ERR_FILE_DISK_FULL", L"Disk full while accessing %0."},
    {L"ERR_FILE_END_OF_FILE", L"An attempt was made to access %0 past its end."},
    {L"ERR_FILE_GENERIC", L"An error occurred while accessing %0: \n%1"},
    {L"ERR_FILE_HARD_IO", L"A hardware I/O error was reported while accessing %0."},
    {L"ERR_FILE_INVALID_FILE", L"An invalid file handle was associated with %0."},
    {L"ERR_FILE_LOCK_VIOLATION", L"A locking violation occurred while accessing %0."},
    {L"ERR_FILE_NOT_FOUND", L"%0 was not found."},
    {L"ERR_FILE_REMOVE_CURRENT_DIR", L"%0 could not be removed because it is the current directory."},
    {L"ERR_FILE_SHARING_VIOLATION", L"A sharing violation occurred while accessing %0."},
    {L"ERR_FILE_TOO_MANY_OPEN_FILES", L"%0 could not be opened because there are too many open files."},
    {L"ERR_NOT_ENOUGH_BITMAP_MEMORY", L"Not enough memory"},
    {L"ERR_NO_GDI_RESOURCE", L"There is not enough system resources."},
    {L"ERR_NO_MODULE_LOADED_FOR_CLASS", L"No module loaded for class '%0'"},
    {L"ERR_RATIONAL_OVERFLOW", L"Internal program error:\nRational overflow."},
    {L"ERR_UNCAUGHT_INTERNAL_ERROR", L"Internal Program Error.\nUncaught internal exception."},
    {L"ERR_UNKNOWN_COM_ERROR", L"Unknown COM error. Error code: 0x%0"},
    {L"ERR_UNKNOWN_LAST_ERROR_TEXT", L"Unknown error. Error code: 0x%0"},
    {L"MSG_ASSERT", L"Internal Program Error:\nAssertion failed: (%0)\n%2, %3\nFunction: %1"},
    {L"MSG_ASSERTLASTERROR", L"Internal Program Error:\nAssertion failed: (%0)\n%2, %3.\nFunction: %1\nError code: %4 - %5"},
    {L"MSG_COMMDLG_BUFFER_TOO_SMALL", L"Internal System Error. Buffer is full."},
    {L"MSG_COMMDLG_GENERIC_ERROR", L"Internal System Error."},
    {L"MSG_COMMDLG_INVALID_FILENAME", L"Internal System Error. Invalid file name."},
    {L"MSG_COMMDLG_RES_NOT_FOUND", L"Internal System Error. Resource not found."},
    {L"MSG_FAST_MEMORY_FILE", L"<File in fast memory>"},
    {L"MSG_HELP_CANT_RUN_HELP", L"Can't run help file."},
    {L"MSG_HELP_NO_HELP_FILE", L"Can't find help file:\n%0"},
    {L"MSG_INTERNAL_ERROR", L"Internal program error:\n%0, %1."},
    {L"MSG_INTERNAL_ERROR_WITH_CODE", L"Internal program error:\n%0, %1.\nError code: %2"},
    {L"MSG_MEMORY_FILE", L"<File in memory>"},
    {L"MSG_OAUTH_TITLE_GOOGLE", L"Google OAuth"},
    {L"MSG_OAUTH_TITLE_MICROSOFT", L"Microsoft identity platform"},
    {L"MSG_PRESUME", L"Internal Program Error:\nPresumption failed: (%0)\n%2, %3\nFunction: %1"},
    {L"MSG_PRESUMELASTERROR", L"Internal Program Error:\nPresumption failed: (%0)\n%2, %3.\nFunction: %1\nError code: %4 - %5"},
    {L"MSG_VIRTUAL_MEMORY_FILE", L"<File in paged memory>"},
};
constexpr int ExpectedCount = sizeof(ExpectedMessages) / sizeof(ExpectedMessages[0]);
static_assert(ExpectedCount == 51);

class TrevalicDll : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t path[MAX_PATH];
        std::wstring folder(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
        module = LoadLibraryW((folder.substr(0, folder.find_last_of(L"\\/") + 1) + L"Trevalic.dll").c_str());
        ASSERT_NE(module, nullptr) << "LoadLibraryW failed with " << GetLastError();
        getResourceId = reinterpret_cast<PFN_GetResourceID>(Export("GetResourceID"));
        getMessageName = reinterpret_cast<PFN_GetMessageName>(Export("GetMessageName"));
        ASSERT_TRUE(getResourceId && getMessageName && Export("NumberOfMessages") && Export("GetMessageSystemVersion"));
    }
    void TearDown() override { EXPECT_TRUE(!module || FreeLibrary(module)); }
    void* Export(const char* name) { return reinterpret_cast<void*>(GetProcAddress(module, name)); }
    // NumberOfMessages and GetMessageSystemVersion share one type.
    int32_t Call(const char* name) { return reinterpret_cast<PFN_NumberOfMessages>(Export(name))(); }

    // Exactly as stored: with no buffer LoadStringW gives a pointer into the resource and the length.
    std::wstring LoadText(uint32_t id)
    {
        const wchar_t* text = nullptr;
        const int length = LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0);
        return length > 0 ? std::wstring(text, length) : std::wstring();
    }

    HMODULE module = nullptr;
    PFN_GetResourceID getResourceId = nullptr;
    PFN_GetMessageName getMessageName = nullptr;
};

TEST_F(TrevalicDll, ExportsTheSixFunctionsUndecoratedAndTheMarkerAsData)
{
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    ASSERT_NE(directory.VirtualAddress, 0u);
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
    const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    const auto* ordinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
    const auto* functions = reinterpret_cast<const DWORD*>(base + exports->AddressOfFunctions);
    ASSERT_EQ(exports->NumberOfNames, 7u);
    EXPECT_EQ(exports->NumberOfFunctions, 7u);
    std::set<std::string> seen;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        const std::string name = reinterpret_cast<const char*>(base + names[i]);
        seen.insert(name);
        const DWORD rva = functions[ordinals[i]];
        const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
        const IMAGE_SECTION_HEADER* end = section + nt->FileHeader.NumberOfSections;
        while (section < end && !(rva >= section->VirtualAddress && rva < section->VirtualAddress + section->Misc.VirtualSize))
            ++section;
        ASSERT_NE(section, end) << name;
        const bool marker = name == "__ZelkorUsed";
        EXPECT_EQ((section->Characteristics & IMAGE_SCN_MEM_EXECUTE) != 0, !marker) << name;
        if (marker) {
            EXPECT_EQ(*reinterpret_cast<const int32_t*>(base + rva), 0);
        }
    }
    EXPECT_EQ(seen, (std::set<std::string>{"GetProvidersList", "GetTrevalicListJson", "GetResourceID", "NumberOfMessages",
                                           "GetMessageName", "GetMessageSystemVersion", "__ZelkorUsed"}));
}

TEST_F(TrevalicDll, EveryMessageHasItsNameIdAndEnglishText)
{
    EXPECT_EQ(Call("NumberOfMessages"), ExpectedCount);
    EXPECT_EQ(Call("GetMessageSystemVersion"), 200);
    for (int i = 0; i < ExpectedCount; ++i) {
        SCOPED_TRACE(ExpectedMessages[i].Name);
        EXPECT_EQ(getResourceId(ExpectedMessages[i].Name), 4096u + i);
        const wchar_t* name = getMessageName(i);
        ASSERT_NE(name, nullptr);
        EXPECT_STREQ(name, ExpectedMessages[i].Name);
        EXPECT_EQ(LoadText(4096 + i), ExpectedMessages[i].Text);
    }
    for (uint32_t id : {1u, 4095u, 4147u, 4159u, 4160u})
        EXPECT_EQ(LoadText(id), L"") << "id " << id;
}

TEST_F(TrevalicDll, LookupIsExactAndOrdinal)
{
    const std::pair<const wchar_t*, uint32_t> cases[] = {
        {L"CURRENT_LANGUAGE_NAME", 4096}, {L"MSG_VIRTUAL_MEMORY_FILE", 4146}, // first and last
        {L"MSG_ASSERT", 4130}, {L"MSG_ASSERTLASTERROR", 4131},               // one a prefix of the other
        {L"ERR_NO_GDI_RESOURCE", 4124}, {L"ERR_NOT_ENOUGH_BITMAP_MEMORY", 4123}, // "_" sorts after capitals
        {L"msg_assert", 0}, {L"Msg_Assert", 0}, {L"MSG_ASSER", 0}, {L"MSG_ASSERTLASTERRO", 0}, {L"MSG_ASSERTX", 0},
        {L"MSG_ASSERT ", 0}, {L" MSG_ASSERT", 0}, {L"", 0}, {L"A", 0}, {L"ZZZ", 0}, {L"MSG_VIRTUAL_MEMORY_FILES", 0},
        {L"CURRENT_LANGUAGE_NAM", 0}, {L"ERR_FILE_BAD_PATH\x00E9", 0},
        {L"\xFFFF", 0}, // compared as unsigned 16-bit units
    };
    for (const auto& [name, id] : cases)
        EXPECT_EQ(getResourceId(name), id) << "name " << testing::PrintToString(std::wstring(name));
}

TEST_F(TrevalicDll, BadArgumentsGiveNoMessageInsteadOfCrashing)
{
    EXPECT_EQ(getResourceId(nullptr), 0u);
    for (int32_t index : {-1, 51, INT_MIN, INT_MAX})
        EXPECT_EQ(getMessageName(index), nullptr) << "index " << index;
}

// Only the four blocks of ids 4096 to 4159, only in English (United States).
TEST_F(TrevalicDll, StringTableHasOnlyTheEnglishMessageBlocks)
{
    std::vector<ULONG_PTR> blocks;
    EnumResourceNamesW(module, RT_STRING, [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR list) -> BOOL {
        return reinterpret_cast<std::vector<ULONG_PTR>*>(list)->push_back(reinterpret_cast<ULONG_PTR>(name)), TRUE;
    }, reinterpret_cast<LONG_PTR>(&blocks));
    EXPECT_EQ(blocks, (std::vector<ULONG_PTR>{257, 258, 259, 260}));
    for (ULONG_PTR block : blocks) {
        std::vector<WORD> languages;
        EnumResourceLanguagesW(module, RT_STRING, MAKEINTRESOURCEW(block), [](HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR list) -> BOOL {
            return reinterpret_cast<std::vector<WORD>*>(list)->push_back(language), TRUE;
        }, reinterpret_cast<LONG_PTR>(&languages));
        EXPECT_EQ(languages, (std::vector<WORD>{1033})) << "block " << block;
    }
}

TEST(TrevalicMessageNames, CatalogueNamesRegisterLastAfterTheFramework)
{
    const std::set<std::wstring> unreferenced = {
        L"ERR_CANT_LOAD_MODULE", L"ERR_NOT_ENOUGH_BITMAP_MEMORY", L"MSG_COMMDLG_BUFFER_TOO_SMALL", L"MSG_COMMDLG_GENERIC_ERROR",
        L"MSG_COMMDLG_INVALID_FILENAME", L"MSG_COMMDLG_RES_NOT_FOUND", L"MSG_HELP_CANT_RUN_HELP", L"MSG_HELP_NO_HELP_FILE"};
    // Each new object becomes the head: the catalogue's two, then the framework's in reverse table order.
    std::vector<std::wstring> expected = {L"MSG_OAUTH_TITLE_GOOGLE", L"MSG_OAUTH_TITLE_MICROSOFT"}, walked;
    for (int i = ExpectedCount - 1; i >= 0; --i)
        if (!unreferenced.count(ExpectedMessages[i].Name) && std::wstring(ExpectedMessages[i].Name).find(L"MSG_OAUTH_") != 0)
            expected.push_back(ExpectedMessages[i].Name);
    ASSERT_EQ(expected.size(), 43u);
    Zelkor::CCriticalSectionLock lock(Zelkor::MessageNameListLock);
    const Zelkor::CMessageName* previous = nullptr;
    for (const Zelkor::CMessageName* n = Zelkor::GetMessageNameListHead(); n; previous = n, n = n->GetNext()) {
        EXPECT_EQ(n->GetPrev(), previous) << testing::PrintToString(std::wstring(n->GetName()));
        walked.push_back(n->GetName());
    }
    EXPECT_EQ(walked, expected);
    EXPECT_EQ(Zelkor::GetMessageNameListHead(), &Trevalic::Messages::MSG_OAUTH_TITLE_GOOGLE);
}

} // namespace
