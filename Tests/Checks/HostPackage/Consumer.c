/* A host linked with an import library of Trevalic.dll. Each export is reached through the
 * declarations of Trevalic.h and must be the DLL's export of that name; the calls follow the
 * size-query protocol and free the system string as the header says. */
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <Trevalic.h>

static int failures = 0;

static void Expect(int condition, const char* what)
{
    if (!condition) {
        fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

static void ExpectExportsAreTheDlls(void)
{
    struct Export {
        const char* name;
        uintptr_t imported;
    };
    const struct Export exports[] = {
        {"GetProvidersList", (uintptr_t)&GetProvidersList},
        {"GetTrevalicListJson", (uintptr_t)&GetTrevalicListJson},
        {"GetResourceID", (uintptr_t)&GetResourceID},
        {"NumberOfMessages", (uintptr_t)&NumberOfMessages},
        {"GetMessageName", (uintptr_t)&GetMessageName},
        {"GetMessageSystemVersion", (uintptr_t)&GetMessageSystemVersion},
        {"__ZelkorUsed", (uintptr_t)&__ZelkorUsed},
    };
    HMODULE dll = GetModuleHandleW(L"Trevalic.dll");
    size_t i;
    Expect(dll != NULL, "Trevalic.dll is loaded through the import library");
    for (i = 0; i < sizeof exports / sizeof exports[0]; ++i)
        Expect(exports[i].imported == (uintptr_t)GetProcAddress(dll, exports[i].name), exports[i].name);
}

static void ExpectTheListProtocol(void)
{
    size_t needed = 0, count;
    wchar_t* buffer;
    BSTR json;
    SetLastError(1);
    Expect(!GetProvidersList(TREVALIC_PROVIDER_ANY, NULL, &needed) && GetLastError() == TREVALIC_ERROR_INSUFFICIENT_BUFFER && needed > 1,
           "the size query answers false, 122 and the count");
    buffer = (wchar_t*)malloc(needed * sizeof(wchar_t));
    count = needed;
    Expect(buffer && GetProvidersList(TREVALIC_PROVIDER_ANY, buffer, &count) && GetLastError() == TREVALIC_ERROR_SUCCESS && count == needed &&
               wcslen(buffer) == needed - 1,
           "a buffer of the size asked for takes the document and its NUL");
    Expect(!GetProvidersList(TREVALIC_PROVIDER_TYPE_COUNT, buffer, &count) && GetLastError() == TREVALIC_ERROR_INVALID_PARAMETER,
           "the end of the provider kinds is refused with 87");
    json = GetTrevalicListJson();
    Expect(json && buffer && SysStringLen(json) == needed - 1 && wmemcmp(json, buffer, needed - 1) == 0,
           "GetTrevalicListJson returns the same document");
    SysFreeString(json);
    free(buffer);
}

static void ExpectTheMessageModule(void)
{
    const wchar_t* first = GetMessageName(0);
    Expect(NumberOfMessages() == 51 && GetMessageSystemVersion() == 200, "message count and protocol version");
    Expect(first && GetResourceID(first) == 4096, "the first message has id 4096");
    Expect(__ZelkorUsed == 0, "the exported data word reads through the import");
}

int main(void)
{
    ExpectExportsAreTheDlls();
    ExpectTheListProtocol();
    ExpectTheMessageModule();
    printf(failures ? "%d failed\n" : "ok\n", failures);
    return failures ? 1 : 0;
}
