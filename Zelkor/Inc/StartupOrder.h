// The order in which the static objects of a framework module are built at load; they are
// destroyed in reverse at unload. A smaller number is built earlier. Objects of one row that
// live in different sources take distinct numbers inside the row's hundred (1401, 1402, ...),
// because equal numbers in different sources run in reverse link order.
#pragma once

#include <atomic>

#define ZELKOR_INIT(row) __attribute__((init_priority(row)))

#define ZELKOR_ROW_LOCKS 1000             // framework critical sections
#define ZELKOR_ROW_THREAD_REGISTRY 1100   // thread-data registry and its slot
#define ZELKOR_ROW_MEMORY_SLOT 1200       // current-manager thread-local slot
#define ZELKOR_ROW_THREAD_OBJECTS 1300    // the four framework thread objects, indices 0 to 3
#define ZELKOR_ROW_MEMORY_MANAGERS 1400   // page memory manager lock, default manager
#define ZELKOR_ROW_STRING_POOLS 1500      // string pools of 32, 64, 128 bytes, then the string heap
#define ZELKOR_ROW_CHARSET_POOL 1600      // pool of character-set pages
#define ZELKOR_ROW_EXCEPTION_RESERVE 1700 // memory-exception reserve and its lock
#define ZELKOR_ROW_CHARACTER_SETS 1800    // strict whitespace, whitespace, digits
#define ZELKOR_ROW_MESSAGE_NAMES 1900     // framework message names
#define ZELKOR_ROW_GLOBAL_STRINGS 2000    // global strings, empty
#define ZELKOR_ROW_CONSTANT_STRINGS 2100  // constant strings
#define ZELKOR_ROW_SERVICES 2200          // message handlers, resource-module registry, path map, file systems
#define ZELKOR_ROW_VIRTUAL_FILE_SYSTEM (ZELKOR_ROW_SERVICES + 60) // VirtualFileSystemInstance
#define ZELKOR_ROW_SUPPRESS 2300        // the loading thread shows failures instead of throwing
#define ZELKOR_ROW_LIBRARY 5000         // the library's own statics (message names, settings, catalogue)
#define ZELKOR_ROW_RESOURCE_MODULE 6000 // this module registers as a resource module, last

namespace Zelkor {

// Whether a static object is alive, kept outside the object. Exit handlers that run after an
// object's destructor may still reach it (a string released late gives its buffer back to a
// pool that is already gone, a failure reported late asks for a lock that is already deleted);
// they must find it marked gone. The mark cannot live in the object itself: the object's
// lifetime ends with its destructor, so the optimiser may treat the destructor's stores to it
// as dead and drop them, and a flag kept inside would still read "alive" in a release build. A
// mark at namespace scope is constant-initialised to "not alive" before its object is built
// and outlives every static object, so it answers before construction, during life and after
// destruction alike. This is the framework's one answer to that question.
class CLifeMark {
public:
    constexpr CLifeMark() = default;
    CLifeMark(const CLifeMark&) = delete;
    CLifeMark& operator=(const CLifeMark&) = delete;

    // release/acquire: whoever sees the object alive also sees what its constructor built.
    void Begin() noexcept { alive.store(true, std::memory_order_release); }
    void End() noexcept { alive.store(false, std::memory_order_release); }
    bool IsAlive() const noexcept { return alive.load(std::memory_order_acquire); }

private:
    std::atomic<bool> alive{false};
};

} // namespace Zelkor
