// The catalogue exports for the managed host. Each export turns the outcome of its work into
// the host's form (result and last-error code) in one place; exceptions of the framework
// (exhausted memory, internal errors) propagate to the caller unchanged.
#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <cwchar>

#include "Errors.h"
#include "ProviderEntry.h"

namespace Trevalic {

namespace {

constexpr uint32_t CopyFailedError = 14109;

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
        return CopyFailedError;
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
    using namespace Trevalic;
    size_t count = 0;
    if (GetProvidersList(0, nullptr, &count) || count == 0)
        GenerateInternalError(FailureKind::Assert, L"GetTrevalicListJson", L"size query", L"Src/TrevalicDotNetExport", 17, 0);
    CUnicodeString document;
    wchar_t* text = document.GetBuffer(static_cast<int32_t>(count));
    const bool filled = GetProvidersList(0, text, &count);
    document.ReleaseBuffer(static_cast<int32_t>(wcsnlen(text, count)));
    if (!filled)
        GenerateInternalError(FailureKind::Assert, L"GetTrevalicListJson", L"filled", L"Src/TrevalicDotNetExport", 22, 0);
    return SysAllocString(document.GetText());
}
