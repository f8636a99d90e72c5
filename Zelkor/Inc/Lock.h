// A critical section and its scope guard. Framework locks are static objects built first
// at start-up and deleted last, so that every other static may take them.
#pragma once

#include <windows.h>

namespace Zelkor {

class CCriticalSection {
public:
    CCriticalSection() { InitializeCriticalSection(&section); }
    ~CCriticalSection() { DeleteCriticalSection(&section); }
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    void Enter() { EnterCriticalSection(&section); }
    void Leave() { LeaveCriticalSection(&section); }

private:
    CRITICAL_SECTION section;
};

class CCriticalSectionLock {
public:
    explicit CCriticalSectionLock(CCriticalSection& lock) : lock(lock) { lock.Enter(); }
    ~CCriticalSectionLock() { lock.Leave(); }
    CCriticalSectionLock(const CCriticalSectionLock&) = delete;
    CCriticalSectionLock& operator=(const CCriticalSectionLock&) = delete;

private:
    CCriticalSection& lock;
};

} // namespace Zelkor
