// The resource-module registry and the interface languages.
#include <windows.h>

#include "ResourceInfo.h"

#include "FileSystem.h"
#include "StartupOrder.h"
#include "ThreadData.h"
#include "Zelkor.h"

namespace Zelkor {

const CInterfaceLanguage InterfaceLanguages[InterfaceLanguageCount] = {
    {L"en-US", 0x0409}, {L"ru-RU", 0x0419}, {L"de-DE", 0x0407}, {L"fr-FR", 0x040C},
    {L"uk-UA", 0x0422}, {L"es-ES", 0x040A}, {L"it-IT", 0x0410}, {L"nl-NL", 0x0413},
    {L"da-DK", 0x0406}, {L"sv-SE", 0x041D}, {L"fi-FI", 0x040B}, {L"nb-NO", 0x0414},
    {nullptr, 0},       {L"pt-PT", 0x0816}, {L"sk-SK", 0x041B}, {L"pl-PL", 0x0415},
    {L"cs-CZ", 0x0405}, {L"hu-HU", 0x040E}, {L"lt-LT", 0x0427}, {L"lv-LV", 0x0426},
    {L"et-EE", 0x0425}, {L"is-IS", 0x040F}, {L"el-GR", 0x0408}, {L"bg-BG", 0x0402},
    {L"tr-TR", 0x041F}, {L"tt-RU", 0x0444}, {L"ja-JP", 0x0411}, {L"pt-BR", 0x0416},
    {L"nl-BE", 0x0813}, {L"he-IL", 0x040D}, {nullptr, 0},       {nullptr, 0},
    {nullptr, 0},       {nullptr, 0},       {L"hi-IN", 0x0439}, {L"sr-SP-Cyrl", 0x0C1A},
    {L"hr-HR", 0x041A}, {L"ro-RO", 0x0418}, {L"sl-SI", 0x0424}, {L"ca-ES", 0x0403},
    {L"mk-MK", 0x042F}, {nullptr, 0},       {L"kk-KZ", 0x043F}, {L"sr-SP-Latn", 0x081A},
    {nullptr, 0},       {nullptr, 0},       {nullptr, 0},       {nullptr, 0},
    {nullptr, 0},       {nullptr, 0},       {nullptr, 0},       {nullptr, 0},
    {nullptr, 0},       {nullptr, 0},       {nullptr, 0},       {nullptr, 0},
    {nullptr, 0},       {nullptr, 0},       {nullptr, 0},       {nullptr, 0},
    {nullptr, 0},       {L"ar-SA", 0x0401}, {L"vi-VN", 0x042A}, {L"ko-KR", 0x0412},
    {L"zh-CN", 0x0804}, {L"zh-TW", 0x0404}, {nullptr, 0},       {nullptr, 0},
    {nullptr, 0},       {L"th-TH", 0x041E},
};

namespace {

template <class Function>
Function LookUpExport(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace

CResourceModule::CResourceModule(HMODULE module, bool selfRegistered, GetResourceIdFunction getResourceId,
                                 NumberOfMessagesFunction numberOfMessages, GetMessageNameFunction getMessageName)
    : module(module), selfRegistered(selfRegistered), getResourceId(getResourceId), numberOfMessages(numberOfMessages),
      getMessageName(getMessageName)
{
    Check(module != nullptr, CheckSite::ResourceModuleNullHandle);
    if (module != nullptr)
        name = ExtractFileName(ModuleFileName(module));
}

CResourceModule::~CResourceModule()
{
    if (!selfRegistered && module != nullptr)
        FreeLibrary(module);
}

CResourceModuleRegistry::CResourceModuleRegistry() : initialised(true)
{
}

CResourceModuleRegistry::~CResourceModuleRegistry()
{
    try {
        Reset();
    } catch (CException* e) {
        TraceUnpropagated(e);
    }
}

int32_t CResourceModuleRegistry::FindInGeneralListLocked(HMODULE module) const
{
    for (int32_t i = 0; i < modules.GetSize(); ++i) {
        if (modules[i].Get() != nullptr && modules[i]->GetModule() == module)
            return i;
    }
    return -1;
}

void CResourceModuleRegistry::Register(HMODULE module)
{
    // The exports are looked up outside the lock: GetProcAddress takes the loader lock.
    auto getResourceId = LookUpExport<GetResourceIdFunction>(module, "GetResourceID");
    NumberOfMessagesFunction numberOfMessages = nullptr;
    GetMessageNameFunction getMessageName = nullptr;
    if (getResourceId != nullptr)
        numberOfMessages = LookUpExport<NumberOfMessagesFunction>(module, "NumberOfMessages");
    if (numberOfMessages != nullptr)
        getMessageName = LookUpExport<GetMessageNameFunction>(module, "GetMessageName");

    CPtr<CResourceModule> entry; // released after the lock is left
    CCriticalSectionLock guard(lock);
    const int32_t found = FindInGeneralListLocked(module);
    if (found >= 0) {
        // Appended before the old entry goes, so that a failed append changes nothing.
        entry = modules[found];
        modules.Add(entry);
        modules.DeleteAt(found);
        return;
    }
    entry = new CResourceModule(module, true, getResourceId, numberOfMessages, getMessageName);
    modules.Add(entry);
}

void CResourceModuleRegistry::Unregister(HMODULE module)
{
    CPtr<CResourceModule> entry; // the last reference may go only after the lock is left
    CCriticalSectionLock guard(lock);
    const int32_t found = FindInGeneralListLocked(module);
    if (found < 0) {
        Check(false, CheckSite::ResourceModuleNotRegistered);
        return;
    }
    entry = modules[found];
    modules.DeleteAt(found);
}

// The language list first, then the general list, each newest to oldest.
template <class Predicate>
CResourceModule* CResourceModuleRegistry::FindLocked(Predicate matches)
{
    auto search = [&matches](CArray<CPtr<CResourceModule>, ProcessHeap>& list) -> CResourceModule* {
        for (int32_t i = list.GetSize() - 1; i >= 0; --i) {
            CResourceModule* module = list[i].GetChecked();
            if (module != nullptr && matches(*module))
                return module;
        }
        return nullptr;
    };
    if (CPtr<CLanguageModuleList>* languageList = languageMap.Lookup(GetCurrentLanguage())) {
        if (CLanguageModuleList* list = languageList->GetChecked()) {
            if (CResourceModule* module = search(list->Modules))
                return module;
        }
    }
    return search(modules);
}

bool CResourceModuleRegistry::LoadMessageText(const CMessageName& name, CUnicodeString& text)
{
    CCriticalSectionLock guard(lock);
    return FindLocked([&](CResourceModule& module) {
               GetResourceIdFunction getResourceId = module.GetResourceIdExport();
               if (getResourceId == nullptr)
                   return false;
               const uint32_t id = getResourceId(name.GetName());
               return id != 0 && text.LoadFromResource(module.GetModule(), id);
           }) != nullptr;
}

HMODULE CResourceModuleRegistry::FindIconModule(const wchar_t* resourceName)
{
    CCriticalSectionLock guard(lock);
    CResourceModule* found = FindLocked([&](CResourceModule& module) {
        return FindResourceW(module.GetModule(), resourceName, MAKEINTRESOURCEW(14)) != nullptr;
    });
    return found != nullptr ? found->GetModule() : nullptr;
}

int32_t CResourceModuleRegistry::GetCurrentLanguage()
{
    const int32_t threadLanguage = ThreadLanguageData.Get().Language;
    if (threadLanguage != -1)
        return threadLanguage;
    CCriticalSectionLock guard(lock);
    return processLanguage;
}

void CResourceModuleRegistry::Reset()
{
    // Released after the lock is left: the last reference of a loaded module frees the library.
    CArray<CPtr<CLanguageModuleList>, ProcessHeap> languageLists;
    CArray<CPtr<CResourceModule>, ProcessHeap> loadedModules;
    {
        CCriticalSectionLock guard(lock);
        if (!initialised)
            return;
        int32_t& threadLanguage = ThreadLanguageData.Get().Language;
        if (threadLanguage != -1) {
            if (CPtr<CLanguageModuleList>* used = languageMap.Lookup(threadLanguage)) {
                if (used->Get() != nullptr && (*used)->UseCount > 0)
                    --(*used)->UseCount;
            }
            threadLanguage = -1;
        }
        initialised = false;
        processLanguage = -1;
        languageMap.ForEach([&](const int32_t&, const CPtr<CLanguageModuleList>& list) { languageLists.Add(list); });
        languageMap.DeleteAll();
        for (int32_t i = modules.GetSize() - 1; i >= 0; --i) {
            if (modules[i].Get() == nullptr || !modules[i]->IsSelfRegistered()) {
                loadedModules.Add(modules[i]);
                modules.DeleteAt(i);
            }
        }
    }
}

int32_t CResourceModuleRegistry::GetModuleCount()
{
    CCriticalSectionLock guard(lock);
    return modules.GetSize();
}

HMODULE CResourceModuleRegistry::GetModuleAt(int32_t index)
{
    CCriticalSectionLock guard(lock);
    if (index < 0 || index >= modules.GetSize() || modules[index].Get() == nullptr)
        return nullptr;
    return modules[index]->GetModule();
}

ZELKOR_INIT(ZELKOR_ROW_SERVICES + 10) CResourceModuleRegistry ResourceModuleRegistry;

void RegisterResourceModule(HMODULE module)
{
    ResourceModuleRegistry.Register(module);
}

void UnregisterResourceModule(HMODULE module)
{
    ResourceModuleRegistry.Unregister(module);
}

// The framework module's own registration (ZELKOR_ROW_RESOURCE_MODULE); its check reports at
// the module entry's site.
void RegisterOwnResourceModule()
{
    const HMODULE module = GetZelkorModuleHandle();
    Check(module != nullptr, CheckSite::OwnResourceModuleNullHandle);
    if (module != nullptr)
        RegisterResourceModule(module);
}

void UnregisterOwnResourceModule()
{
    const HMODULE module = GetZelkorModuleHandle();
    if (module != nullptr)
        UnregisterResourceModule(module);
}

bool LoadMessageText(const CMessageName& name, CUnicodeString& text)
{
    return ResourceModuleRegistry.LoadMessageText(name, text);
}

HMODULE FindIconModule(const wchar_t* resourceName)
{
    return ResourceModuleRegistry.FindIconModule(resourceName);
}

int32_t GetCurrentLanguage()
{
    return ResourceModuleRegistry.GetCurrentLanguage();
}

bool IsLanguageSupported(int32_t language)
{
    if (language < 0 || language >= InterfaceLanguageCount) {
        Check(false, CheckSite::LanguageIndexOutOfRange);
        return false;
    }
    const LANGID id = InterfaceLanguages[language].LanguageId;
    return id != 0 && IsValidLocale(MAKELCID(id, SORT_DEFAULT), LCID_INSTALLED);
}

namespace ResourceInfoInternal {

CUnicodeString GetLanguageLocaleName(int32_t language, LocaleNameConverter converter)
{
    if (language < 0 || language >= InterfaceLanguageCount) {
        Check(false, CheckSite::LanguageLocaleIndexOutOfRange);
        return CUnicodeString();
    }
    const CInterfaceLanguage& slot = InterfaceLanguages[language];
    // An empty slot has no identifier to convert.
    if (slot.LocaleName == nullptr)
        return CUnicodeString();
    if (converter == nullptr)
        return CUnicodeString(slot.LocaleName);
    constexpr int Capacity = 85; // the longest locale name and its NUL
    wchar_t buffer[Capacity];
    const int written = converter(MAKELCID(slot.LanguageId, SORT_DEFAULT), buffer, Capacity, 0);
    if (written <= 0) {
        CheckLastError(false, CheckSite::LanguageLocaleNameFailed);
        return CUnicodeString();
    }
    // The count includes the terminating NUL.
    return CUnicodeString(buffer, written - 1);
}

} // namespace ResourceInfoInternal

CUnicodeString GetLanguageLocaleName(int32_t language)
{
    // Looked up by name: older systems lack the conversion.
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto converter = reinterpret_cast<ResourceInfoInternal::LocaleNameConverter>(
        reinterpret_cast<void*>(kernel != nullptr ? GetProcAddress(kernel, "LCIDToLocaleName") : nullptr));
    return ResourceInfoInternal::GetLanguageLocaleName(language, converter);
}

void ResetResourceModules()
{
    ResourceModuleRegistry.Reset();
}

} // namespace Zelkor
