// Placeholder catalogue exports.
#include <windows.h>
#include <oleauto.h>

extern "C" {
BOOL GetProvidersList(int, wchar_t*, int*) { SetLastError(ERROR_INVALID_PARAMETER); return FALSE; }
BSTR GetTrevalicListJson() { return nullptr; }
}
