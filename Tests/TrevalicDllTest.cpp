// Trevalic.dll loaded the way a host does (from the test's own folder): the message exports with
// their English texts. The exported names are the image check's and the package consumer's.
#include <climits>

#include "TestSupport.h"
#include "Trevalic.h"

namespace {

struct TrevalicDll : ::testing::Test {
    void SetUp() override
    {
        ASSERT_NE(module, nullptr) << "LoadLibraryW failed with " << GetLastError();
        ASSERT_TRUE(getResourceId && getMessageName && numberOfMessages && getMessageSystemVersion);
    }
    void TearDown() override { EXPECT_TRUE(!module || FreeLibrary(module)); }

    // Exactly as stored: with no buffer LoadStringW gives a pointer into the resource and the length.
    std::wstring LoadText(uint32_t id)
    {
        const wchar_t* text = nullptr;
        const int length = LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0);
        return length > 0 ? std::wstring(text, length) : std::wstring();
    }

    // Found in the program's own folder first, as a host finds it beside itself.
    const HMODULE module = LoadLibraryW(L"Trevalic.dll");
    const PFN_GetResourceID getResourceId = ExportOf<PFN_GetResourceID>(module, "GetResourceID");
    const PFN_GetMessageName getMessageName = ExportOf<PFN_GetMessageName>(module, "GetMessageName");
    const PFN_NumberOfMessages numberOfMessages = ExportOf<PFN_NumberOfMessages>(module, "NumberOfMessages");
    const PFN_GetMessageSystemVersion getMessageSystemVersion = ExportOf<PFN_GetMessageSystemVersion>(module, "GetMessageSystemVersion");
};

// The message table whole: index i names the message of id 4096 + i with this English text.
// The lookup by name is exact; an unknown name, or none, has id 0, a bad index no name, and no
// other id a text.
TEST_F(TrevalicDll, MessageLookupsByIndexAndName)
{
    // clang-format off
    const struct { const wchar_t* name; const wchar_t* text; } messages[] = {
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
    // clang-format on
    ASSERT_EQ(numberOfMessages(), 51);
    EXPECT_EQ(getMessageSystemVersion(), 200);
    for (int32_t i = 0; i < 51; ++i) {
        EXPECT_STREQ(getMessageName(i), messages[i].name) << "index " << i;
        EXPECT_EQ(getResourceId(messages[i].name), 4096u + i) << testing::PrintToString(std::wstring(messages[i].name));
        EXPECT_EQ(LoadText(4096 + i), messages[i].text) << testing::PrintToString(std::wstring(messages[i].name));
    }
    for (int32_t index : {-1, 51, INT_MAX})
        EXPECT_EQ(getMessageName(index), nullptr) << "index " << index;
    for (uint32_t id : {4095u, 4147u, 4159u})
        EXPECT_EQ(LoadText(id), L"") << "id " << id;
    // Around the first and the last name, a prefix and an extension of a name, another case, a
    // unit that sorts last only when compared unsigned, and no name at all.
    for (const wchar_t* name : {L"", L"CURRENT_LANGUAGE_NAM", L"MSG_VIRTUAL_MEMORY_FILES", L"MSG_ASSER", L"MSG_ASSERTLASTERRO",
                                L"MSG_ASSERTX", L"msg_assert", L"\xFFFF", static_cast<const wchar_t*>(nullptr)})
        EXPECT_EQ(getResourceId(name), 0u) << testing::PrintToString(name);
}

} // namespace
