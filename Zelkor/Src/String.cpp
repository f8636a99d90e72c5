// Narrow strings: the same buffers and growth rule as the wide ones, one byte per character.
#include "String.h"

#include <cstring>

#include "Errors.h"

namespace Zelkor {

using namespace StringInternal;

constexpr const wchar_t* SourcePath = L"Src/String";

namespace {

int32_t LengthOf(const char* text)
{
    if (text == nullptr)
        return 0;
    const size_t length = std::strlen(text);
    if (length > INT32_MAX - 1)
        ThrowMemoryException();
    return static_cast<int32_t>(length);
}

CBufferHeader* NewNarrowBuffer(const char* text, int32_t length)
{
    if (length < 1)
        return AddReference(&EmptyNarrowBuffer.Header);
    CBufferHeader* buffer = AllocateBuffer(length, sizeof(char));
    char* chars = CharsOf<char>(buffer);
    std::memcpy(chars, text, length);
    chars[length] = 0;
    return buffer;
}

} // namespace

CString::CString(const char* text)
    : buffer(NewNarrowBuffer(text, LengthOf(text)))
{
}

CString::CString(const char* text, int32_t length)
    : buffer(NewNarrowBuffer(text, text == nullptr ? 0 : length))
{
    if (text == nullptr && length > 0)
        ReportFailedCheck(ZELKOR_HERE(SourcePath));
}

void CString::Assign(const char* text, int32_t length)
{
    if (length < 0)
        length = 0;
    ZELKOR_CHECK_ARGUMENT(text != nullptr || length == 0, ZELKOR_HERE(SourcePath));
    if (buffer->Count.load(std::memory_order_acquire) == 1 && buffer->Capacity >= NeededBytes(length, 1)) {
        char* chars = CharsOf<char>(buffer);
        std::memmove(chars, text, length); // text may be a part of this very buffer
        buffer->Length = length;
        chars[length] = 0;
        return;
    }
    CBufferHeader* fresh = NewNarrowBuffer(text, length);
    CBufferHeader* old = buffer;
    buffer = fresh;
    ReleaseReference(old);
}

// Growth, a shared buffer, a source inside this buffer and bad arguments; the header's inline
// part has done the rest.
void CString::AppendSlowPath(const char* text, int32_t length)
{
    ZELKOR_CHECK_ARGUMENT(text != nullptr, ZELKOR_HERE(SourcePath));
    const auto address = reinterpret_cast<uintptr_t>(text);
    const auto begin = reinterpret_cast<uintptr_t>(buffer);
    CString source; // holds this buffer when text is a part of it
    if (address >= begin && address < begin + buffer->Capacity) {
        ZELKOR_CHECK_ARGUMENT(text + length <= GetText() + GetLength(), ZELKOR_HERE(SourcePath));
        // The extra reference keeps the source alive (and forces a fresh buffer) while copying.
        source = *this;
    }
    const int32_t current = GetLength();
    if (static_cast<int64_t>(current) + length > INT32_MAX - 1)
        ThrowMemoryException();
    const int32_t total = current + length;
    MakeWritable(buffer, total, sizeof(char));
    char* chars = CharsOf<char>(buffer);
    std::memcpy(chars + current, text, length);
    buffer->Length = total;
    chars[total] = 0;
}

void CString::SetLength(int32_t n)
{
    const int32_t current = GetLength();
    ZELKOR_CHECK_ARGUMENT(n >= 0 && n <= current, ZELKOR_HERE(SourcePath));
    if (n == current)
        return;
    if (n == 0) {
        Empty();
        return;
    }
    MakeWritable(buffer, n, sizeof(char));
    buffer->Length = n;
    CharsOf<char>(buffer)[n] = 0;
}

void CString::Empty()
{
    if (buffer == &EmptyNarrowBuffer.Header)
        return;
    if (buffer->Count.load(std::memory_order_acquire) == 1) {
        buffer->Length = 0;
        CharsOf<char>(buffer)[0] = 0;
        return;
    }
    CBufferHeader* old = buffer;
    buffer = AddReference(&EmptyNarrowBuffer.Header);
    ReleaseReference(old);
}

char* CString::GetBuffer(int32_t n)
{
    if (n < 0) {
        ReportFailedCheck(ZELKOR_HERE(SourcePath));
        n = GetLength();
    }
    MakeWritable(buffer, n, sizeof(char));
    CharsOf<char>(buffer)[n] = 0;
    return CharsOf<char>(buffer);
}

void CString::ReleaseBuffer(int32_t length)
{
    if (buffer == &EmptyNarrowBuffer.Header) {
        ZELKOR_CHECK_ARGUMENT(length <= 0, ZELKOR_HERE(SourcePath));
        return;
    }
    // Without a GetBuffer before, the buffer may still be shared.
    MakeWritable(buffer, GetLength(), sizeof(char));
    char* chars = CharsOf<char>(buffer);
    const int32_t room = static_cast<int32_t>(buffer->Capacity - sizeof(CBufferHeader)) - 1;
    if (length < 0)
        length = static_cast<int32_t>(strnlen(chars, room));
    ZELKOR_CHECK_ARGUMENT(length <= room, ZELKOR_HERE(SourcePath));
    buffer->Length = length;
    chars[length] = 0;
}

bool operator==(const CString& left, const char* right)
{
    const int32_t length = right == nullptr ? 0 : LengthOf(right);
    return left.GetLength() == length && std::memcmp(left.GetText(), right == nullptr ? "" : right, length) == 0;
}

} // namespace Zelkor
