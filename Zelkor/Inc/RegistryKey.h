// Registry access with the framework's conventions: missing keys and values are not errors
// (Open returns false, GetStringValue the default); unexpected read errors raise
// CLastErrorException (CMemoryException for code 8); write errors raise CCheckException with
// "ERR_CANT_WRITE_TO_REGISTRY". Keys are opened in the 64-bit view of the registry.
#pragma once

#include <windows.h>

#include <cstdint>

#include "UnicodeString.h"

namespace Zelkor {

// The platform's predefined roots with their names, in search order.
struct RegistryRoot {
    HKEY handle;
    const wchar_t* name;
};
extern const RegistryRoot RegistryRoots[9];

class CRegistryKey {
public:
    enum Mode : uint32_t { Read = 0, Write = 1, Closed = 2 };

    CRegistryKey() = default;
    ~CRegistryKey();
    CRegistryKey(const CRegistryKey&) = delete;
    CRegistryKey& operator=(const CRegistryKey&) = delete;

    // Never throws. Read opens an existing key; Write creates a missing one (the root itself
    // for an empty path). The thread's last-error value holds the registry's result. Opening a
    // key that is not closed, or with a null path, is an internal error.
    bool Open(HKEY root, const wchar_t* path, uint32_t mode);
    // Open in the read mode with an access mask of the caller's, for keys whose readers are
    // bound to another view of the registry than Open's.
    bool OpenForReading(HKEY root, const wchar_t* path, REGSAM access);
    void Close();

    // REG_SZ or REG_EXPAND_SZ (unexpanded) text of a value, read whole whatever its length and
    // whether or not it is stored with a terminator; the default for a missing value, another
    // type, or an empty or odd byte size.
    CUnicodeString GetStringValue(const wchar_t* valueName, const wchar_t* defaultText);
    // Writes a REG_SZ value of sizeInBytes bytes; needs a key opened for writing.
    void SetStringValue(const wchar_t* valueName, const wchar_t* data, uint32_t sizeInBytes);
    // A value's type and bytes exactly as the registry gives them, into the caller's buffer
    // of byteSize bytes; returns the registry's result and never throws. A key that failed to
    // open gives ERROR_INVALID_HANDLE and leaves type, data and byteSize untouched.
    LSTATUS QueryValue(const wchar_t* valueName, DWORD& type, void* data, DWORD& byteSize) const;

    uint32_t GetMode() const { return mode; }
    // Root name, a backslash and the path; used in error texts.
    const CUnicodeString& GetName() const { return name; }

private:
    bool OpenWithAccess(HKEY root, const wchar_t* path, uint32_t mode, REGSAM access);

    HKEY handle = nullptr;
    uint32_t mode = Closed;
    CUnicodeString name;
};

// Values of the framework's settings key "Software\Quorell\Zelkor": under HKEY_CURRENT_USER and
// HKEY_LOCAL_MACHINE. Empty when missing. Each call reads the registry anew.
CUnicodeString GetUserSetting(const wchar_t* name);
CUnicodeString GetMachineSetting(const wchar_t* name);

} // namespace Zelkor
