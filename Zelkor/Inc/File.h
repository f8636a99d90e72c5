// Open files. Each file system hands out its own CBaseFile from OpenFile and takes it back in
// CloseFile; callers hold a CFile, which opens by path through GetFileSystem, checks their
// arguments and gives the object back when it is closed or destroyed.
//
// Platform failures raise a CFileException naming the file; violated contracts (a closed file,
// a null buffer, a negative count or length) are internal errors. Nothing here locks: a file
// belongs to one thread at a time, and separate files on one path rely on the share modes.
#pragma once

#include <cstdint>

#include "Alloc.h"
#include "FileSystem.h"
#include "UnicodeString.h"

namespace Zelkor {

// The runtime heap, for the objects and tables of the file layer (open files, nodes, sections,
// windows). It takes part in the failure injection of tests, and it counts the blocks it holds,
// so that a test can tell that a failed operation left nothing behind.
struct FileLayerHeap {
    static void* Alloc(uint64_t size);
    static void Free(void* block) noexcept;
    static void FreeNoThrow(void* block) noexcept { Free(block); }
    static int64_t GetBlockCount();
};

class CBaseFile {
public:
    virtual ~CBaseFile() = default;

    virtual CUnicodeString GetFileName() = 0;
    // The bytes read: fewer than count near the end, 0 at the end.
    virtual int32_t Read(void* buffer, int32_t count) = 0;
    virtual void Write(const void* buffer, int32_t count) = 0;
    virtual int64_t GetPosition() = 0;
    // origin: FILE_BEGIN, FILE_CURRENT or FILE_END; returns the new position.
    virtual int64_t Seek(int64_t offset, uint32_t origin) = 0;
    // Leaves the position at the new length.
    virtual void SetLength(int64_t length) = 0;
    virtual int64_t GetLength() = 0;
    virtual void Abort() = 0; // close, ignoring errors
    virtual void Flush() = 0;
    virtual void Close() = 0; // close, raising errors
    // The length is read first.
    virtual bool IsEndOfFile();
};

class CFile : public CBaseFile {
public:
    CFile() = default;
    // Closes an open file; a failure is shown through ProcessException, never thrown.
    ~CFile() override;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Opening an open CFile is an internal error. If the file system raises, the CFile stays
    // closed. flagsAndAttributes are FILE_ATTRIBUTE_* and FILE_FLAG_* bits.
    void Open(const CUnicodeString& path, FileOpenMode mode, uint32_t flagsAndAttributes, int64_t initialSize = 0);
    bool IsOpen() const { return implementation != nullptr; }

    CUnicodeString GetFileName() override;
    int32_t Read(void* buffer, int32_t count) override;     // count 0 returns 0 before any check
    void Write(const void* buffer, int32_t count) override; // count 0 returns before any check
    int64_t GetPosition() override;
    int64_t Seek(int64_t offset, uint32_t origin) override;
    void SetLength(int64_t length) override;
    int64_t GetLength() override;
    void Abort() override; // a closed file: nothing
    void Flush() override;
    // A closed file: nothing. Closed afterwards even when closing raises.
    void Close() override;
    bool IsEndOfFile() override;

private:
    void CloseThroughFileSystem(bool abort);

    // Set and cleared together; both null while closed.
    CBaseFile* implementation = nullptr;
    CFileSystemBase* fileSystem = nullptr;
};

} // namespace Zelkor
