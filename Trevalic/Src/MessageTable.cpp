// The message table and the exports of the message module.
#include "MessageTable.h"

#include "Trevalic.h"

namespace Trevalic {

// Keep in step with the STRINGTABLE of Trevalic.rc: the ids there are the positions here.
constinit const CMessageTableEntry MessageTable[MessageCount] = {
    {4096, L"CURRENT_LANGUAGE_NAME"},
    {4097, L"ERR_BAD_ARCHIVE"},
    {4098, L"ERR_BAD_ARCHIVE_VERSION"},
    {4099, L"ERR_BAD_INI_FILE"},
    {4100, L"ERR_BAD_TEXT_FILE"},
    {4101, L"ERR_CANT_LOAD_DLL"},
    {4102, L"ERR_CANT_LOAD_MODULE"},
    {4103, L"ERR_CANT_LOAD_RESOURCE"},
    {4104, L"ERR_CANT_WRITE_TO_REGISTRY"},
    {4105, L"ERR_CREATE_TEMP_FILE"},
    {4106, L"ERR_DIR_NOT_EMPTY"},
    {4107, L"ERR_DIVIDE_ZERO"},
    {4108, L"ERR_FILE_ACCESS_DENIED"},
    {4109, L"ERR_FILE_ALREADY_EXISTS"},
    {4110, L"ERR_FILE_BAD_PATH"},
    {4111, L"ERR_FILE_BAD_SEEK"},
    {4112, L"ERR_FILE_DIRECTORY_FULL"},
    {4113, L"ERR_FILE_DISK_FULL"},
    {4114, L"ERR_FILE_END_OF_FILE"},
    {4115, L"ERR_FILE_GENERIC"},
    {4116, L"ERR_FILE_HARD_IO"},
    {4117, L"ERR_FILE_INVALID_FILE"},
    {4118, L"ERR_FILE_LOCK_VIOLATION"},
    {4119, L"ERR_FILE_NOT_FOUND"},
    {4120, L"ERR_FILE_REMOVE_CURRENT_DIR"},
    {4121, L"ERR_FILE_SHARING_VIOLATION"},
    {4122, L"ERR_FILE_TOO_MANY_OPEN_FILES"},
    {4123, L"ERR_NOT_ENOUGH_BITMAP_MEMORY"},
    {4124, L"ERR_NO_GDI_RESOURCE"},
    {4125, L"ERR_NO_MODULE_LOADED_FOR_CLASS"},
    {4126, L"ERR_RATIONAL_OVERFLOW"},
    {4127, L"ERR_UNCAUGHT_INTERNAL_ERROR"},
    {4128, L"ERR_UNKNOWN_COM_ERROR"},
    {4129, L"ERR_UNKNOWN_LAST_ERROR_TEXT"},
    {4130, L"MSG_ASSERT"},
    {4131, L"MSG_ASSERTLASTERROR"},
    {4132, L"MSG_COMMDLG_BUFFER_TOO_SMALL"},
    {4133, L"MSG_COMMDLG_GENERIC_ERROR"},
    {4134, L"MSG_COMMDLG_INVALID_FILENAME"},
    {4135, L"MSG_COMMDLG_RES_NOT_FOUND"},
    {4136, L"MSG_FAST_MEMORY_FILE"},
    {4137, L"MSG_HELP_CANT_RUN_HELP"},
    {4138, L"MSG_HELP_NO_HELP_FILE"},
    {4139, L"MSG_INTERNAL_ERROR"},
    {4140, L"MSG_INTERNAL_ERROR_WITH_CODE"},
    {4141, L"MSG_MEMORY_FILE"},
    {4142, L"MSG_OAUTH_TITLE_GOOGLE"},
    {4143, L"MSG_OAUTH_TITLE_MICROSOFT"},
    {4144, L"MSG_PRESUME"},
    {4145, L"MSG_PRESUMELASTERROR"},
    {4146, L"MSG_VIRTUAL_MEMORY_FILE"},
};

namespace {

// Like wcscmp, but spelled out so that the order is the one the table is sorted in on every
// platform: code units compared as unsigned 16-bit values, a shorter name sorting first.
int32_t CompareOrdinal(const wchar_t* name, const wchar_t* entry)
{
    int32_t i = 0;
    while (name[i] != 0 && name[i] == entry[i])
        ++i;
    return static_cast<int32_t>(static_cast<uint16_t>(name[i])) - static_cast<int32_t>(static_cast<uint16_t>(entry[i]));
}

} // namespace

} // namespace Trevalic

extern "C" {

int32_t __ZelkorUsed = 0;

uint32_t GetResourceID(const wchar_t* name)
{
    using namespace Trevalic;
    // The loader passes names it got from code; a null one has no message rather than a crash.
    if (name == nullptr)
        return 0;
    int32_t low = 0;
    int32_t high = MessageCount - 1;
    while (low <= high) {
        const int32_t mid = (low + high) / 2;
        const int32_t d = CompareOrdinal(name, MessageTable[mid].Name);
        if (d == 0)
            return MessageTable[mid].Id;
        if (d < 0)
            high = mid - 1;
        else
            low = mid + 1;
    }
    return 0;
}

int32_t NumberOfMessages()
{
    return Trevalic::MessageCount;
}

const wchar_t* GetMessageName(int32_t index)
{
    // Callers loop up to NumberOfMessages(); anything else would read past the table.
    if (index < 0 || index >= Trevalic::MessageCount)
        return nullptr;
    return Trevalic::MessageTable[index].Name;
}

int32_t GetMessageSystemVersion()
{
    return Trevalic::MessageSystemVersion;
}

} // extern "C"
