// Resource modules and the interface language.
//
// A resource module is a library that carries message texts in its string table and exports
// "GetResourceID" (message name to string id). The registry keeps the general list of such
// modules, oldest first, and per interface language a list searched before it; lookups ask the
// newest module first. Lookups hold the registry lock while they call into the modules, so
// those exports must not come back into the registry. Lookups never throw: nothing found is a
// false or null result.
#pragma once

#include <windows.h>

#include <cstdint>

#include "Alloc.h"
#include "Array.h"
#include "Lock.h"
#include "Map.h"
#include "MessageName.h"
#include "Object.h"
#include "UnicodeString.h"

namespace Zelkor {

struct CInterfaceLanguage {
    const wchar_t* LocaleName; // null for an empty slot
    LANGID LanguageId;         // primary language in the low 10 bits; 0 for an empty slot
};

constexpr int32_t InterfaceLanguageCount = 70;
extern const CInterfaceLanguage InterfaceLanguages[InterfaceLanguageCount];

using GetResourceIdFunction = uint32_t (*)(const wchar_t* name);
using NumberOfMessagesFunction = int32_t (*)();
using GetMessageNameFunction = const wchar_t* (*)(int32_t index);

class CResourceModule : public virtual IObject, public CAllocatedOn<ProcessHeap> {
public:
    // A module the registry loaded itself (selfRegistered false) is freed with the object.
    CResourceModule(HMODULE module, bool selfRegistered, GetResourceIdFunction getResourceId,
                    NumberOfMessagesFunction numberOfMessages, GetMessageNameFunction getMessageName);
    ~CResourceModule() override;

    HMODULE GetModule() const { return module; }
    bool IsSelfRegistered() const { return selfRegistered; }
    const CUnicodeString& GetName() const { return name; } // file name and extension
    GetResourceIdFunction GetResourceIdExport() const { return getResourceId; }
    // The loader asks only GetResourceID; the module's other two lookup exports are kept as
    // found, a part of every registered module's record, for whoever lists its messages.
    NumberOfMessagesFunction NumberOfMessagesExport() const { return numberOfMessages; }
    GetMessageNameFunction GetMessageNameExport() const { return getMessageName; }

private:
    HMODULE module;
    bool selfRegistered;
    CUnicodeString name;
    GetResourceIdFunction getResourceId;
    NumberOfMessagesFunction numberOfMessages;
    GetMessageNameFunction getMessageName;
};

// The modules of one interface language, oldest first.
class CLanguageModuleList : public virtual IObject, public CAllocatedOn<ProcessHeap> {
public:
    int32_t UseCount = 0; // threads and the process that chose this language
    CArray<CPtr<CResourceModule>, ProcessHeap> Modules;
};

class CResourceModuleRegistry {
public:
    CResourceModuleRegistry();
    ~CResourceModuleRegistry();
    CResourceModuleRegistry(const CResourceModuleRegistry&) = delete;
    CResourceModuleRegistry& operator=(const CResourceModuleRegistry&) = delete;

    void Register(HMODULE module);
    void Unregister(HMODULE module);
    bool LoadMessageText(const CMessageName& name, CUnicodeString& text);
    HMODULE FindIconModule(const wchar_t* resourceName);
    int32_t GetCurrentLanguage();
    void Reset();

    // The general list, oldest first.
    int32_t GetModuleCount();
    HMODULE GetModuleAt(int32_t index);

private:
    template <class Predicate>
    CResourceModule* FindLocked(Predicate matches);
    int32_t FindInGeneralListLocked(HMODULE module) const;

    CCriticalSection lock;
    bool initialised = false;
    int32_t processLanguage = -1;
    CMap<int32_t, CPtr<CLanguageModuleList>> languageMap;
    CArray<CPtr<CResourceModule>, ProcessHeap> modules;
};

extern CResourceModuleRegistry ResourceModuleRegistry;

// Adds the module, or makes it the newest when it is already registered.
void RegisterResourceModule(HMODULE module);
// The module must be registered.
void UnregisterResourceModule(HMODULE module);
// The text of a message from the newest module that knows its name; false when none does
// (text may have been emptied then).
bool LoadMessageText(const CMessageName& name, CUnicodeString& text);
// The newest module holding an icon group of that name, or null.
HMODULE FindIconModule(const wchar_t* resourceName);
// The calling thread's interface language, else the process language; -1 when none.
int32_t GetCurrentLanguage();
bool IsLanguageSupported(int32_t language);
CUnicodeString GetLanguageLocaleName(int32_t language);
// The registry's teardown at process exit. Nothing calls it, since the registry's exit handler
// runs the same Reset itself; it stays as the documented name of that teardown.
void ResetResourceModules();

namespace ResourceInfoInternal {

using LocaleNameConverter = int(WINAPI*)(LCID locale, LPWSTR name, int capacity, DWORD flags);

// GetLanguageLocaleName with the system's conversion given; null means the system has none.
CUnicodeString GetLanguageLocaleName(int32_t language, LocaleNameConverter converter);

} // namespace ResourceInfoInternal

} // namespace Zelkor
