// Registry keys and the framework's settings.
#include "RegistryKey.h"

#include "Errors.h"
#include "MessageName.h"

namespace Zelkor {

const RegistryRoot RegistryRoots[9] = {
    {HKEY_CLASSES_ROOT, L"HKEY_CLASSES_ROOT"},
    {HKEY_CURRENT_USER, L"HKEY_CURRENT_USER"},
    {HKEY_LOCAL_MACHINE, L"HKEY_LOCAL_MACHINE"},
    {HKEY_USERS, L"HKEY_USERS"},
    {HKEY_PERFORMANCE_DATA, L"HKEY_PERFORMANCE_DATA"},
    {HKEY_PERFORMANCE_TEXT, L"HKEY_PERFORMANCE_TEXT"},
    {HKEY_PERFORMANCE_NLSTEXT, L"HKEY_PERFORMANCE_NLSTEXT"},
    {HKEY_CURRENT_CONFIG, L"HKEY_CURRENT_CONFIG"},
    {HKEY_DYN_DATA, L"HKEY_DYN_DATA"},
};

namespace {

constexpr REGSAM ReadAccess = KEY_READ | KEY_WOW64_64KEY;
constexpr REGSAM WriteAccess = KEY_READ | KEY_WRITE | KEY_WOW64_64KEY;
constexpr const wchar_t* SettingsPath = L"Software\\Quorell\\Zelkor";

const wchar_t* RootName(HKEY root)
{
    for (const RegistryRoot& entry : RegistryRoots) {
        if (entry.handle == root)
            return entry.name;
    }
    return L"";
}

CUnicodeString ReadSetting(HKEY root, const wchar_t* name)
{
    CRegistryKey key;
    key.Open(root, SettingsPath, CRegistryKey::Read);
    CUnicodeString value = key.GetStringValue(name, L"");
    key.Close();
    return value;
}

} // namespace

CRegistryKey::~CRegistryKey()
{
    Close();
}

bool CRegistryKey::Open(HKEY root, const wchar_t* path, uint32_t newMode)
{
    return OpenWithAccess(root, path, newMode, newMode == Read ? ReadAccess : WriteAccess);
}

bool CRegistryKey::OpenForReading(HKEY root, const wchar_t* path, REGSAM access)
{
    return OpenWithAccess(root, path, Read, access);
}

bool CRegistryKey::OpenWithAccess(HKEY root, const wchar_t* path, uint32_t newMode, REGSAM access)
{
    Check(handle == nullptr, CheckSite::RegistryOpenWithHandle);
    Check(mode == Closed, CheckSite::RegistryOpenWhileOpen);
    Check(path != nullptr, CheckSite::RegistryOpenNullPath);
    if (!path)
        path = L""; // only reached when the failure above was shown instead of thrown
    if (handle)
        Close(); // likewise; the old handle would leak otherwise
    if (newMode != Read && newMode != Write) {
        // Refused before anything changes: the key stays closed and may be opened again.
        Check(false, CheckSite::RegistryOpenUnknownMode);
        SetLastError(0);
        return false;
    }

    mode = newMode;
    name = CUnicodeString(RootName(root));
    if (path[0] != L'\0') {
        name += L'\\';
        name += path;
    }

    LSTATUS result;
    if (newMode == Write && path[0] != L'\0') {
        result = RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &handle, nullptr);
    } else {
        // A root key cannot be created, only opened for writing.
        result = RegOpenKeyExW(root, path, 0, access, &handle);
    }
    if (result != ERROR_SUCCESS)
        handle = nullptr;
    SetLastError(static_cast<DWORD>(result));
    return handle != nullptr;
}

void CRegistryKey::Close()
{
    HKEY closing = handle;
    handle = nullptr;
    mode = Closed;
    name.Empty();
    if (closing)
        SetLastError(static_cast<DWORD>(RegCloseKey(closing)));
}

CUnicodeString CRegistryKey::GetStringValue(const wchar_t* valueName, const wchar_t* defaultText)
{
    Check(mode != Closed, CheckSite::RegistryReadClosed);
    Check(valueName != nullptr && defaultText != nullptr, CheckSite::RegistryReadNullArgument);
    const wchar_t* const fallback = defaultText ? defaultText : L"";
    if (!handle || !valueName)
        return CUnicodeString(fallback);

    CUnicodeString result;
    int32_t capacity = 63;
    for (;;) {
        wchar_t* buffer = result.GetBuffer(capacity);
        DWORD type = 0;
        DWORD byteSize = static_cast<DWORD>(capacity) * 2;
        const LSTATUS status = QueryValue(valueName, type, buffer, byteSize);
        if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) {
            result.ReleaseBuffer(0);
            if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND || status == ERROR_KEY_DELETED)
                return CUnicodeString(fallback);
            SetLastError(static_cast<DWORD>(status));
            if (status == ERROR_NOT_ENOUGH_MEMORY)
                ThrowMemoryException();
            ThrowLastErrorException(static_cast<uint32_t>(status));
            return CUnicodeString(fallback); // shown instead of thrown
        }
        if ((type != REG_SZ && type != REG_EXPAND_SZ) || byteSize == 0 || byteSize % 2 != 0) {
            result.ReleaseBuffer(0);
            return CUnicodeString(fallback);
        }
        // On ERROR_MORE_DATA the buffer is untouched and byteSize is what the value needs.
        const DWORD needed = byteSize / 2;
        if (needed > static_cast<DWORD>(capacity)) {
            result.ReleaseBuffer(0);
            capacity = static_cast<int32_t>(needed);
            continue;
        }
        if (status == ERROR_MORE_DATA) {
            result.ReleaseBuffer(0);
            Check(false, CheckSite::RegistryValueGrewWhileRead);
            return CUnicodeString(fallback);
        }
        // A value stored without terminator fills its bytes exactly; stop at a NUL if there is one.
        int32_t length = 0;
        while (length < static_cast<int32_t>(needed) && buffer[length] != L'\0')
            ++length;
        result.ReleaseBuffer(length);
        return result;
    }
}

LSTATUS CRegistryKey::QueryValue(const wchar_t* valueName, DWORD& type, void* data, DWORD& byteSize) const
{
    if (!handle)
        return ERROR_INVALID_HANDLE;
    return RegQueryValueExW(handle, valueName, nullptr, &type, static_cast<BYTE*>(data), &byteSize);
}

void CRegistryKey::SetStringValue(const wchar_t* valueName, const wchar_t* data, uint32_t sizeInBytes)
{
    Check(data != nullptr, CheckSite::RegistryWriteNullData);
    Check(mode == Write, CheckSite::RegistryWriteNotWritable);
    if (!data || mode != Write)
        return; // only reached when the failure above was shown instead of thrown
    if (!handle) {
        ThrowCheckException(Messages::ERR_CANT_WRITE_TO_REGISTRY, name, CUnicodeString());
        return;
    }
    const LSTATUS status =
        RegSetValueExW(handle, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data), sizeInBytes);
    if (status != ERROR_SUCCESS) {
        CUnicodeString fullName = name;
        fullName += L'\\';
        fullName += valueName ? valueName : L"";
        ThrowCheckException(Messages::ERR_CANT_WRITE_TO_REGISTRY, fullName, CUnicodeString());
    }
}

CUnicodeString GetUserSetting(const wchar_t* name)
{
    return ReadSetting(HKEY_CURRENT_USER, name);
}

CUnicodeString GetMachineSetting(const wchar_t* name)
{
    return ReadSetting(HKEY_LOCAL_MACHINE, name);
}

} // namespace Zelkor
