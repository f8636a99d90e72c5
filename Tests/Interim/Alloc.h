// TEMPORARY stand-in (see README.txt).
#pragma once
namespace Zelkor {
class IMemoryManager {
public:
    virtual ~IMemoryManager() = default;
};
class CRuntimeHeapManager : public IMemoryManager {};
inline CRuntimeHeapManager DefaultMemoryManager;
class CMemoryManagerSwitcher {
public:
    explicit CMemoryManagerSwitcher(IMemoryManager*) {}
};
}
