// The redirect URL and port shared by every provider record. Both are read once from the
// machine's registry while the library loads, before the records are built, and never change
// afterwards; a registry change takes effect at the next load.
#pragma once

#include <windows.h>

#include <cstdint>

#include "UnicodeString.h"

namespace Trevalic {

// The maker's redirect page unless "RedirectUrl" (REG_SZ) overrides it.
extern Zelkor::CUnicodeString RedirectUrlSetting;

// 32023 unless "RedirectPort" (REG_DWORD) overrides it; 0 and values above 65535 are kept as is.
extern uint32_t RedirectPortSetting;

constexpr const wchar_t* DefaultRedirectUrl = L"https://www.quorell.com/OAuth2Redirect";
constexpr uint32_t DefaultRedirectPort = 32023;
constexpr const wchar_t* RedirectSettingsKey = L"SOFTWARE\\Quorell\\Tarnwick\\12.0\\Trevalic";

namespace RedirectSettingsInternal {

// The registry reads themselves, for tests that point them at a key of their own. Every
// failure is silent and gives the default.
Zelkor::CUnicodeString ReadRedirectUrl(HKEY root);
uint32_t ReadRedirectPort(HKEY root);

} // namespace RedirectSettingsInternal

} // namespace Trevalic
