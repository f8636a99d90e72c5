// The catalogue exports for the managed host. Each export turns the outcome of its work into
// the host's form (result and last-error code) in one place; exceptions of the framework
// (exhausted memory, internal errors) propagate to the caller unchanged.
#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <cwchar>

#include "Errors.h"
#include "ProviderEntry.h"
#include "Trevalic.h"

namespace Trevalic {

using Zelkor::CUnicodeString;

namespace {

// The last-error code of one GetProvidersList call. The caller's buffer is written only on
// success, and never past the needed count.
uint32_t FillProviderList(int32_t providerType, wchar_t* buffer, size_t* length)
{
    if (!length || providerType == static_cast<int32_t>(ProviderType::ProviderTypeCount))
        return ERROR_INVALID_PARAMETER;
    const CUnicodeString document = ProviderListToJson(providerType);
    const size_t needed = static_cast<size_t>(document.GetLength()) + 1;
    if (!buffer || *length < needed) {
        *length = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    if (wcsncpy_s(buffer, needed, document.GetText(), needed - 1) != 0)
        return TREVALIC_ERROR_COPY_FAILED;
    *length = needed;
    return ERROR_SUCCESS;
}

} // namespace

} // namespace Trevalic

extern "C" bool GetProvidersList(int32_t providerType, wchar_t* buffer, size_t* length)
{
    const uint32_t outcome = Trevalic::FillProviderList(providerType, buffer, length);
    SetLastError(outcome);
    return outcome == ERROR_SUCCESS;
}

extern "C" BSTR GetTrevalicListJson()
{
    // One rendering: a size query followed by a fill could see the interface language change
    // in between and a title grow past the size it reported.
    const Zelkor::CUnicodeString document = Trevalic::ProviderListToJson(0);
    return SysAllocStringLen(document.GetText(), static_cast<UINT>(document.GetLength()));
}
