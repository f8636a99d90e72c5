// TEMPORARY stand-in (see README.txt).
#pragma once
#include <windows.h>
#include <cstdint>
#include "Errors.h"
#include "MessageName.h"
#include "UnicodeString.h"
namespace Zelkor {
class CRegistryKey {
public:
    enum Mode : uint32_t { Read = 0, Write = 1, Closed = 2 };
    ~CRegistryKey() { Close(); }
    bool Open(HKEY root, const wchar_t* path, uint32_t mode)
    {
        name = path;
        LSTATUS r = mode == Read ? RegOpenKeyExW(root, path, 0, 0x20119, &handle)
                                 : RegCreateKeyExW(root, path, 0, nullptr, 0, 0x2011F, nullptr, &handle, nullptr);
        if (r != ERROR_SUCCESS)
            handle = nullptr;
        return handle != nullptr;
    }
    void Close()
    {
        if (handle)
            RegCloseKey(handle);
        handle = nullptr;
    }
    CUnicodeString GetStringValue(const wchar_t* valueName, const wchar_t* defaultText)
    {
        wchar_t data[1024];
        DWORD size = sizeof(data) - 2, type = 0;
        if (!handle || RegQueryValueExW(handle, valueName, nullptr, &type, (BYTE*)data, &size) != ERROR_SUCCESS ||
            type != REG_SZ)
            return defaultText;
        data[size / 2] = 0;
        return CUnicodeString(data);
    }
    void SetStringValue(const wchar_t* valueName, const wchar_t* data, uint32_t sizeInBytes)
    {
        if (!handle || RegSetValueExW(handle, valueName, 0, REG_SZ, (const BYTE*)data, sizeInBytes) != ERROR_SUCCESS)
            ThrowCheckException(Messages::ERR_CANT_WRITE_TO_REGISTRY, name, CUnicodeString());
    }

private:
    HKEY handle = nullptr;
    CUnicodeString name;
};
inline CUnicodeString GetMachineSetting(const wchar_t* name)
{
    CRegistryKey key;
    key.Open(HKEY_LOCAL_MACHINE, L"Software\\Quorell\\Zelkor", CRegistryKey::Read);
    return key.GetStringValue(name, L"");
}
}
