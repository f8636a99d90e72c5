// Redirect settings read from the registry at load.
#include <windows.h>

#include <cwchar>

#include "GuardedStatic.h"
#include "RedirectSettings.h"
#include "RegistryKey.h"
#include "StartupOrder.h"

namespace Trevalic {

using Zelkor::CRegistryKey;
using Zelkor::CUnicodeString;

namespace RedirectSettingsInternal {

namespace {

// KEY_READ without a view flag: the key is read in the view this module's own bitness gives.
// Every failure leaves the defaults, silently.
bool OpenSettingsKey(CRegistryKey& key, HKEY root)
{
    return key.OpenForReading(root, RedirectSettingsKey, KEY_READ);
}

} // namespace

CUnicodeString ReadRedirectUrl(HKEY root)
{
    CRegistryKey key;
    if (!OpenSettingsKey(key, root))
        return CUnicodeString(DefaultRedirectUrl);
    // 1024 bytes and no more; the buffer starts zeroed so that a value stored without its
    // terminator still ends, at the latest after 512 units.
    constexpr DWORD capacityBytes = 1024;
    wchar_t buffer[capacityBytes / sizeof(wchar_t)] = {};
    DWORD type = REG_NONE;
    DWORD size = capacityBytes;
    if (key.QueryValue(L"RedirectUrl", type, buffer, size) != ERROR_SUCCESS || type != REG_SZ)
        return CUnicodeString(DefaultRedirectUrl);
    const size_t length = wcsnlen(buffer, capacityBytes / sizeof(wchar_t));
    return CUnicodeString(buffer, static_cast<int32_t>(length));
}

uint32_t ReadRedirectPort(HKEY root)
{
    CRegistryKey key;
    if (!OpenSettingsKey(key, root))
        return DefaultRedirectPort;
    DWORD value = 0;
    DWORD type = REG_NONE;
    DWORD size = sizeof value;
    // A REG_DWORD of fewer than four bytes is not a number of this form either.
    if (key.QueryValue(L"RedirectPort", type, &value, size) != ERROR_SUCCESS || type != REG_DWORD ||
        size != sizeof value)
        return DefaultRedirectPort;
    return value;
}

} // namespace RedirectSettingsInternal

using namespace RedirectSettingsInternal;

// Built after the message names and before the records, which copy both values. The URL's
// destructor runs after the records are gone, since it was registered before them.
ZELKOR_INIT(ZELKOR_ROW_LIBRARY + 10)
CUnicodeString RedirectUrlSetting = Zelkor::GuardedInit([] { return ReadRedirectUrl(HKEY_LOCAL_MACHINE); });
uint32_t RedirectPortSetting = DefaultRedirectPort;

namespace {

// Only objects of class type take a place in the start-up order.
struct CRedirectPortReader {
    CRedirectPortReader() noexcept
    {
        Zelkor::GuardedStep([] { RedirectPortSetting = ReadRedirectPort(HKEY_LOCAL_MACHINE); });
    }
};

ZELKOR_INIT(ZELKOR_ROW_LIBRARY + 10) CRedirectPortReader RedirectPortReader;

} // namespace

} // namespace Trevalic
