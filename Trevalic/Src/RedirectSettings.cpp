// Redirect settings read from the registry at load.
#include <windows.h>

#include <cwchar>

#include "RedirectSettings.h"
#include "StartupOrder.h"

namespace Trevalic {

namespace RedirectSettingsInternal {

namespace {

// An open key of the settings, or none; every failure leaves the defaults, silently.
class CSettingsKey {
public:
    explicit CSettingsKey(HKEY root)
    {
        if (RegOpenKeyExW(root, RedirectSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
            key = nullptr;
    }
    ~CSettingsKey()
    {
        if (key)
            RegCloseKey(key);
    }
    CSettingsKey(const CSettingsKey&) = delete;
    CSettingsKey& operator=(const CSettingsKey&) = delete;

    HKEY Get() const { return key; }

private:
    HKEY key = nullptr;
};

} // namespace

CUnicodeString ReadRedirectUrl(HKEY root)
{
    CSettingsKey key(root);
    if (!key.Get())
        return CUnicodeString(DefaultRedirectUrl);
    // 1024 bytes and no more; the buffer starts zeroed so that a value stored without its
    // terminator still ends, at the latest after 512 units.
    constexpr DWORD capacityBytes = 1024;
    wchar_t buffer[capacityBytes / sizeof(wchar_t)] = {};
    DWORD type = REG_NONE;
    DWORD size = capacityBytes;
    const LONG status = RegQueryValueExW(key.Get(), L"RedirectUrl", nullptr, &type,
                                         reinterpret_cast<BYTE*>(buffer), &size);
    if (status != ERROR_SUCCESS || type != REG_SZ)
        return CUnicodeString(DefaultRedirectUrl);
    const size_t length = wcsnlen(buffer, capacityBytes / sizeof(wchar_t));
    return CUnicodeString(buffer, static_cast<int32_t>(length));
}

uint32_t ReadRedirectPort(HKEY root)
{
    CSettingsKey key(root);
    if (!key.Get())
        return DefaultRedirectPort;
    DWORD value = 0;
    DWORD type = REG_NONE;
    DWORD size = sizeof value;
    const LONG status = RegQueryValueExW(key.Get(), L"RedirectPort", nullptr, &type,
                                         reinterpret_cast<BYTE*>(&value), &size);
    // A REG_DWORD of fewer than four bytes is not a number of this form either.
    if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value)
        return DefaultRedirectPort;
    return value;
}

} // namespace RedirectSettingsInternal

using namespace RedirectSettingsInternal;

// Built after the message names and before the records, which copy both values. The URL's
// destructor runs after the records are gone, since it was registered before them.
ZELKOR_INIT(ZELKOR_ROW_LIBRARY + 10) CUnicodeString RedirectUrlSetting(ReadRedirectUrl(HKEY_LOCAL_MACHINE));

uint32_t RedirectPortSetting = DefaultRedirectPort;

namespace {

struct CRedirectPortReader {
    CRedirectPortReader() { RedirectPortSetting = ReadRedirectPort(HKEY_LOCAL_MACHINE); }
};

ZELKOR_INIT(ZELKOR_ROW_LIBRARY + 10) CRedirectPortReader RedirectPortReader;

} // namespace

} // namespace Trevalic
