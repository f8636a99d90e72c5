// CMessageName: a static object that stands for one message of a message module. Code that
// reports a message passes the object; the resource loader turns its name into text.
//
// Every object registers itself at construction in MessageNameList, a process-wide doubly linked
// list headed by the most recently constructed object, and unregisters at destruction; the list
// records which message names the loaded code defines. Framework objects are built at start-up
// row ZELKOR_ROW_MESSAGE_NAMES, after MessageNameListLock (row ZELKOR_ROW_LOCKS), and destroyed
// in reverse, before the lock is deleted.
#pragma once

#include "Lock.h"

namespace Zelkor {

class CMessageName {
public:
    // name must outlive the object (a literal); it is not copied.
    explicit CMessageName(const wchar_t* name) noexcept;
    ~CMessageName();
    CMessageName(const CMessageName&) = delete;
    CMessageName& operator=(const CMessageName&) = delete;

    const wchar_t* GetName() const { return Name; }

    // Neighbours in MessageNameList; read them only while holding MessageNameListLock.
    CMessageName* GetNext() const { return Next; }
    CMessageName* GetPrev() const { return Prev; }

private:
    const wchar_t* const Name;
    CMessageName* Next = nullptr;
    CMessageName* Prev = nullptr;
};

// Guards MessageNameList and the links of every registered object.
extern CCriticalSection MessageNameListLock;

// The head of MessageNameList (the last registered object), or null when the list is empty.
// Walking the list through GetNext needs MessageNameListLock held throughout.
CMessageName* GetMessageNameListHead();

// The framework's own messages, named exactly like them.
namespace Messages {
extern CMessageName CURRENT_LANGUAGE_NAME;
extern CMessageName ERR_BAD_ARCHIVE;
extern CMessageName ERR_BAD_ARCHIVE_VERSION;
extern CMessageName ERR_BAD_INI_FILE;
extern CMessageName ERR_BAD_TEXT_FILE;
extern CMessageName ERR_CANT_LOAD_DLL;
extern CMessageName ERR_CANT_LOAD_RESOURCE;
extern CMessageName ERR_CANT_WRITE_TO_REGISTRY;
extern CMessageName ERR_CREATE_TEMP_FILE;
extern CMessageName ERR_DIR_NOT_EMPTY;
extern CMessageName ERR_DIVIDE_ZERO;
extern CMessageName ERR_FILE_ACCESS_DENIED;
extern CMessageName ERR_FILE_ALREADY_EXISTS;
extern CMessageName ERR_FILE_BAD_PATH;
extern CMessageName ERR_FILE_BAD_SEEK;
extern CMessageName ERR_FILE_DIRECTORY_FULL;
extern CMessageName ERR_FILE_DISK_FULL;
extern CMessageName ERR_FILE_END_OF_FILE;
extern CMessageName ERR_FILE_GENERIC;
extern CMessageName ERR_FILE_HARD_IO;
extern CMessageName ERR_FILE_INVALID_FILE;
extern CMessageName ERR_FILE_LOCK_VIOLATION;
extern CMessageName ERR_FILE_NOT_FOUND;
extern CMessageName ERR_FILE_REMOVE_CURRENT_DIR;
extern CMessageName ERR_FILE_SHARING_VIOLATION;
extern CMessageName ERR_FILE_TOO_MANY_OPEN_FILES;
extern CMessageName ERR_NO_GDI_RESOURCE;
extern CMessageName ERR_NO_MODULE_LOADED_FOR_CLASS;
extern CMessageName ERR_RATIONAL_OVERFLOW;
extern CMessageName ERR_UNCAUGHT_INTERNAL_ERROR;
extern CMessageName ERR_UNKNOWN_COM_ERROR;
extern CMessageName ERR_UNKNOWN_LAST_ERROR_TEXT;
extern CMessageName MSG_ASSERT;
extern CMessageName MSG_ASSERTLASTERROR;
extern CMessageName MSG_FAST_MEMORY_FILE;
extern CMessageName MSG_INTERNAL_ERROR;
extern CMessageName MSG_INTERNAL_ERROR_WITH_CODE;
extern CMessageName MSG_MEMORY_FILE;
extern CMessageName MSG_PRESUME;
extern CMessageName MSG_PRESUMELASTERROR;
extern CMessageName MSG_VIRTUAL_MEMORY_FILE;
} // namespace Messages

} // namespace Zelkor
