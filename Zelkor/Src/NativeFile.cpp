// Open files of the native file system: thin wrappers around one platform handle.
#include "NativeFile.h"

#include "Errors.h"

namespace Zelkor {

namespace {
constexpr const wchar_t* SourcePath = L"Src/NativeFile";

int64_t Join(DWORD high, DWORD low)
{
    return int64_t((uint64_t(high) << 32) | low);
}
} // namespace

CNativeFile::~CNativeFile()
{
    if (handle == INVALID_HANDLE_VALUE)
        return;
    try {
        Close();
    } catch (CException* e) {
        ReportUnpropagated(e);
        delete e;
    }
}

int32_t CNativeFile::Read(void* buffer, int32_t count)
{
    if (count == 0)
        return 0;
    if (!Check(buffer != nullptr, ZELKOR_HERE(SourcePath)) || !Check(count >= 1, ZELKOR_HERE(SourcePath)) ||
        !Check(handle != INVALID_HANDLE_VALUE, ZELKOR_HERE(SourcePath)))
        return 0;
    DWORD read = 0;
    if (!ReadFile(handle, buffer, DWORD(count), &read, nullptr))
        ThrowFileException(GetLastError(), name);
    return int32_t(read);
}

void CNativeFile::Write(const void* buffer, int32_t count)
{
    if (count == 0)
        return;
    if (!Check(buffer != nullptr, ZELKOR_HERE(SourcePath)) || !Check(count >= 1, ZELKOR_HERE(SourcePath)) ||
        !Check(handle != INVALID_HANDLE_VALUE, ZELKOR_HERE(SourcePath)))
        return;
    DWORD written = 0;
    if (!WriteFile(handle, buffer, DWORD(count), &written, nullptr))
        ThrowFileException(GetLastError(), name);
}

int64_t CNativeFile::GetPosition()
{
    return Seek(0, FILE_CURRENT);
}

int64_t CNativeFile::Seek(int64_t offset, uint32_t origin)
{
    if (!Check(origin <= FILE_END, ZELKOR_HERE(SourcePath)) ||
        !Check(handle != INVALID_HANDLE_VALUE, ZELKOR_HERE(SourcePath)))
        return 0;
    LONG high = LONG(offset >> 32);
    // INVALID_SET_FILE_POINTER is also a valid low part, so only the last error tells failure.
    SetLastError(NO_ERROR);
    const DWORD low = SetFilePointer(handle, LONG(offset & 0xFFFFFFFF), &high, origin);
    if (low == INVALID_SET_FILE_POINTER) {
        const DWORD error = GetLastError();
        if (error != NO_ERROR)
            ThrowFileException(error, name);
    }
    return Join(DWORD(high), low);
}

void CNativeFile::SetLength(int64_t length)
{
    if (!Check(length >= 0, ZELKOR_HERE(SourcePath)) || !Check(handle != INVALID_HANDLE_VALUE, ZELKOR_HERE(SourcePath)))
        return;
    Seek(length, FILE_BEGIN);
    if (!SetEndOfFile(handle))
        ThrowFileException(GetLastError(), name);
}

int64_t CNativeFile::GetLength()
{
    if (!Check(handle != INVALID_HANDLE_VALUE, ZELKOR_HERE(SourcePath)))
        return 0;
    DWORD high = 0;
    SetLastError(NO_ERROR);
    const DWORD low = GetFileSize(handle, &high);
    if (low == INVALID_FILE_SIZE) {
        const DWORD error = GetLastError();
        if (error != NO_ERROR)
            ThrowFileException(error, name);
    }
    return Join(high, low);
}

void CNativeFile::Abort()
{
    if (handle == INVALID_HANDLE_VALUE)
        return;
    CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
    name.Empty();
}

void CNativeFile::Flush()
{
    if (!Check(handle != INVALID_HANDLE_VALUE, ZELKOR_HERE(SourcePath)))
        return;
    if (!FlushFileBuffers(handle))
        ThrowFileException(GetLastError(), name);
}

void CNativeFile::Close()
{
    if (handle == INVALID_HANDLE_VALUE)
        return;
    const BOOL closed = CloseHandle(handle);
    const DWORD error = GetLastError();
    handle = INVALID_HANDLE_VALUE;
    if (!closed)
        ThrowFileException(error, name);
    name.Empty();
}

} // namespace Zelkor
