// The order in which the static objects of a framework module are built at load; they are
// destroyed in reverse at unload. A smaller number is built earlier. Objects of one row that
// live in different sources take distinct numbers inside the row's hundred (1401, 1402, ...),
// because equal numbers in different sources run in reverse link order.
#pragma once

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
#define ZELKOR_ROW_SUPPRESS 2300          // the loading thread shows failures instead of throwing
#define ZELKOR_ROW_LIBRARY 5000           // the library's own statics (message names, settings, catalogue)
#define ZELKOR_ROW_RESOURCE_MODULE 6000   // this module registers as a resource module, last
