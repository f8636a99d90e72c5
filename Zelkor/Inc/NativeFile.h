// An open file of the native file system. Only CNativeFileSystem::OpenFile creates one: it
// stores the full path, opens the handle and hands the object over. Platform failures raise a
// CFileException naming the file; calls on a closed file, null buffers and negative counts or
// lengths are internal errors of Src/NativeFile.
#pragma once

#include <windows.h>

#include "Alloc.h"
#include "File.h"

namespace Zelkor {

class CNativeFile final : public CBaseFile, public CAllocatedOn<FileLayerHeap> {
public:
    explicit CNativeFile(const CUnicodeString& name) : name(name) {}
    // Closes a handle still open; a failure is shown through ProcessException, never thrown.
    ~CNativeFile() override;
    CNativeFile(const CNativeFile&) = delete;
    CNativeFile& operator=(const CNativeFile&) = delete;

    CUnicodeString GetFileName() override { return name; }
    int32_t Read(void* buffer, int32_t count) override;
    void Write(const void* buffer, int32_t count) override;
    int64_t GetPosition() override;
    int64_t Seek(int64_t offset, uint32_t origin) override;
    void SetLength(int64_t length) override;
    int64_t GetLength() override;
    void Abort() override;
    void Flush() override;
    // On failure the handle is given up all the same and the name is kept for the message.
    void Close() override;

private:
    friend class CNativeFileSystem;

    HANDLE handle = INVALID_HANDLE_VALUE;
    CUnicodeString name; // the full path; emptied once closed
};

} // namespace Zelkor
