/* A host linked with an import library of Trevalic.dll. Each export is reached through the
 * declarations of Trevalic.h and must be the DLL's export of that name; the calls free the
 * system string as the header says. */
#include <windows.h>

#include <stdint.h>
#include <stdio.h>

#include <Trevalic.h>

static int failures = 0;

static void Expect(int condition, const char* what)
{
    if (!condition) {
        fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

/* The import's address against the export of that name of the DLL the import loaded. */
#define EXPECT_EXPORT(dll, name) Expect((uintptr_t)&name == (uintptr_t)GetProcAddress(dll, #name), #name " is the DLL's export")

int main(void)
{
    HMODULE dll = GetModuleHandleW(L"Trevalic.dll");
    size_t needed = 0;
    Expect(dll != NULL, "Trevalic.dll is loaded through the import library");
    EXPECT_EXPORT(dll, GetProvidersList);
    EXPECT_EXPORT(dll, GetTrevalicListJson);
    EXPECT_EXPORT(dll, GetResourceID);
    EXPECT_EXPORT(dll, NumberOfMessages);
    EXPECT_EXPORT(dll, GetMessageName);
    EXPECT_EXPORT(dll, GetMessageSystemVersion);
    EXPECT_EXPORT(dll, __ZelkorUsed);

    /* The protocol itself is the export suite's; here, that C reaches it through the header's
     * declarations with the right types. */
    SetLastError(1);
    Expect(!GetProvidersList(TREVALIC_PROVIDER_ANY, NULL, &needed) && GetLastError() == TREVALIC_ERROR_INSUFFICIENT_BUFFER && needed > 1,
           "the size query answers false, 122 and the count");
    BSTR json = GetTrevalicListJson();
    Expect(json && SysStringLen(json) == needed - 1, "GetTrevalicListJson returns the document of that size");
    SysFreeString(json);

    printf(failures ? "%d failed\n" : "ok\n", failures);
    return failures ? 1 : 0;
}
