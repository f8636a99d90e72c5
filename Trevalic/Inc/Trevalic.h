/* Trevalic.dll for hosts written in C or C++: the six exported functions, the exported data
 * word, the provider kinds and the last-error codes the catalogue exports set.
 *
 * Link libTrevalic.dll.a (MinGW) or Trevalic.lib (Microsoft linker), or load the DLL with
 * LoadLibraryW and use the PFN_ types with GetProcAddress. docs/Hosting.md (installed as
 * share/Trevalic/Hosting.md) describes the calls from C, C++ and .NET. */
#ifndef TREVALIC_H
#define TREVALIC_H

#if !defined(_WIN64)
#error "Trevalic.dll is a 64-bit Windows DLL; build the host for x64."
#endif

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>
#include <wtypes.h>  /* BSTR */
#include <oleauto.h> /* SysFreeString, SysStringLen (oleaut32) */
#if !defined(__cplusplus)
#include <stdbool.h>
#endif

/* Hosts import the functions; the DLL's own build defines TREVALIC_API empty, so that a
 * definition that disagrees with a declaration here fails to compile. */
#if !defined(TREVALIC_API)
#define TREVALIC_API __declspec(dllimport)
#endif
/* x64 has a single calling convention; it is spelled out for readers coming from x86. */
#define TREVALIC_CALL __cdecl

/* Values of the providerType argument of GetProvidersList. Any other value selects no
 * provider (an empty list), except TREVALIC_PROVIDER_TYPE_COUNT, which is refused. */
#define TREVALIC_PROVIDER_ANY 0        /* every provider */
#define TREVALIC_PROVIDER_IMAP 1       /* mail over IMAP with OAuth */
#define TREVALIC_PROVIDER_GRAPH 2      /* mail through the Microsoft Graph interface */
#define TREVALIC_PROVIDER_SHAREPOINT 3 /* SharePoint access */
#define TREVALIC_PROVIDER_TYPE_COUNT 4 /* end of the kinds: GetProvidersList fails with 87 */

/* Last-error codes (GetLastError) after GetProvidersList. */
#define TREVALIC_ERROR_SUCCESS 0               /* the buffer holds the NUL-terminated document */
#define TREVALIC_ERROR_INVALID_PARAMETER 87    /* length is null or providerType is 4; nothing written */
#define TREVALIC_ERROR_INSUFFICIENT_BUFFER 122 /* buffer null or too small; *length is the count needed */
#define TREVALIC_ERROR_COPY_FAILED 14109       /* ERROR_GENERIC_COMMAND_FAILED: copying into the buffer failed */

#ifdef __cplusplus
extern "C" {
#endif

/* Fills buffer with the provider list document (UTF-16 JSON) for one provider kind. *length
 * is the buffer's size in UTF-16 units, NUL included; on return it is the size needed. Returns
 * a one-byte bool; the last-error code tells why it failed. Ask with a null buffer first. */
TREVALIC_API bool TREVALIC_CALL GetProvidersList(int32_t providerType, wchar_t* buffer, size_t* length);

/* The document of every provider as a new BSTR; the caller frees it with SysFreeString.
 * Null when the system string cannot be allocated. */
TREVALIC_API BSTR TREVALIC_CALL GetTrevalicListJson(void);

/* Message-module lookup: the string-table id of the message with exactly this name, or 0. */
TREVALIC_API uint32_t TREVALIC_CALL GetResourceID(const wchar_t* name);

/* Message-module lookup: the number of messages (51). */
TREVALIC_API int32_t TREVALIC_CALL NumberOfMessages(void);

/* Message-module lookup: the name of message index (0 to NumberOfMessages() - 1), else null. */
TREVALIC_API const wchar_t* TREVALIC_CALL GetMessageName(int32_t index);

/* Message-module lookup: the version of the message-module protocol (200). */
TREVALIC_API int32_t TREVALIC_CALL GetMessageSystemVersion(void);

/* Marks the module as built with the framework; nothing reads or writes it. */
TREVALIC_API extern int32_t __ZelkorUsed; /* NOLINT(bugprone-reserved-identifier): hosts look for this very name */

/* The same functions for GetProcAddress. */
typedef bool(TREVALIC_CALL* PFN_GetProvidersList)(int32_t providerType, wchar_t* buffer, size_t* length);
typedef BSTR(TREVALIC_CALL* PFN_GetTrevalicListJson)(void);
typedef uint32_t(TREVALIC_CALL* PFN_GetResourceID)(const wchar_t* name);
typedef int32_t(TREVALIC_CALL* PFN_NumberOfMessages)(void);
typedef const wchar_t*(TREVALIC_CALL* PFN_GetMessageName)(int32_t index);
typedef int32_t(TREVALIC_CALL* PFN_GetMessageSystemVersion)(void);

#ifdef __cplusplus
} /* extern "C" */

#include <type_traits>
/* The pointer types above cannot drift from the declarations. */
static_assert(sizeof(bool) == 1, "the exports return a one-byte bool");
#define TREVALIC_SAME_TYPE(f) static_assert(std::is_same<decltype(&(f)), PFN_##f>::value, #f)
TREVALIC_SAME_TYPE(GetProvidersList);
TREVALIC_SAME_TYPE(GetTrevalicListJson);
TREVALIC_SAME_TYPE(GetResourceID);
TREVALIC_SAME_TYPE(NumberOfMessages);
TREVALIC_SAME_TYPE(GetMessageName);
TREVALIC_SAME_TYPE(GetMessageSystemVersion);
#undef TREVALIC_SAME_TYPE
#endif

#endif /* TREVALIC_H */
