// Version resources and the platform version.
#include <windows.h>

#include <cwchar>

#include "Errors.h"
#include "VersionInfo.h"

namespace Zelkor {

CVersionInfo::CVersionInfo(const wchar_t* filePath)
{
    if (!filePath)
        return;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(filePath, &ignored);
    if (size == 0)
        return; // no version resource, or the file cannot be read
    valid = true;
    data.SetSize(static_cast<int32_t>(size));
    Check(GetFileVersionInfoW(filePath, 0, size, data.GetBuffer()), CheckSite::VersionResourceUnreadable);
}

CUnicodeString CVersionInfo::GetStringValue(const wchar_t* name)
{
    if (!valid || !name)
        return CUnicodeString();
    void* translation = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.GetBuffer(), L"\\VarFileInfo\\Translation", &translation, &length) || length == 0 ||
        length < 2 * sizeof(WORD))
        return CUnicodeString();
    const WORD* entry = static_cast<const WORD*>(translation);
    const unsigned long block = (static_cast<unsigned long>(entry[0]) << 16) | entry[1];

    wchar_t path[256];
    const int written = _snwprintf(path, 256, L"\\StringFileInfo\\%08lx\\", block);
    Check(written > 0 && written < 256, CheckSite::VersionBlockPathTooLong);
    if (written <= 0 || written >= 256)
        return CUnicodeString();
    CUnicodeString query(path, written);
    query += name;

    void* value = nullptr;
    length = 0;
    if (!VerQueryValueW(data.GetBuffer(), query.GetText(), &value, &length) || length == 0 || !value)
        return CUnicodeString();
    // The length counts the terminator the resource compiler stores; stop at the first NUL.
    const wchar_t* text = static_cast<const wchar_t*>(value);
    int32_t count = 0;
    while (count < static_cast<int32_t>(length) && text[count] != L'\0')
        ++count;
    return CUnicodeString(text, count);
}

namespace {

OSVERSIONINFOEXW PlatformVersion;
volatile LONG PlatformVersionQueried = 0;

} // namespace

bool IsWindowsVersionAtLeast(uint32_t major, uint32_t minor)
{
    if (!PlatformVersionQueried) {
        OSVERSIONINFOEXW version = {};
        version.dwOSVersionInfoSize = sizeof(version); // 284 bytes
        Check(GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)), CheckSite::PlatformVersionUnreadable);
        PlatformVersion = version;
        InterlockedExchange(&PlatformVersionQueried, 1);
    }
    return PlatformVersion.dwMajorVersion > major ||
        (PlatformVersion.dwMajorVersion == major && PlatformVersion.dwMinorVersion >= minor);
}

} // namespace Zelkor
