// The string core shared by the wide string (UnicodeString.h) and its narrow twin (String.h):
// the reference-counted buffer and the operations whose rules do not depend on the code unit.
// Both headers build on it, so neither needs the other for its class.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstring>

#include "CheckSites.h"

namespace Zelkor {

namespace StringInternal {

// The block every string points at, followed by Length + 1 characters (the last one zero).
// Capacity is the byte size of the whole block, header included; it alone decides which
// pool or heap the block returns to.
struct CBufferHeader {
    std::atomic<int32_t> Count; // holders of this block; only changed atomically
    int32_t Length;             // characters, terminator excluded
    uint64_t Capacity;          // bytes of the block, header included
};
static_assert(sizeof(CBufferHeader) == 16, "characters start 16 bytes into a buffer");

template <class Char>
struct CStaticEmptyBuffer {
    CBufferHeader Header;
    Char Chars[8];
};

// Count 2: the extra unit is never released, so these never reach a pool.
extern CStaticEmptyBuffer<wchar_t> EmptyWideBuffer;
extern CStaticEmptyBuffer<char> EmptyNarrowBuffer;

template <class Char>
inline CBufferHeader* EmptyBufferOf()
{
    if constexpr (sizeof(Char) == 1)
        return &EmptyNarrowBuffer.Header;
    else
        return &EmptyWideBuffer.Header;
}

template <class Char>
inline Char* CharsOf(CBufferHeader* buffer)
{
    return reinterpret_cast<Char*>(buffer + 1);
}

// Bytes a buffer of n characters of charSize bytes needs: header, characters, terminator.
inline uint64_t NeededBytes(int64_t n, uint64_t charSize)
{
    return sizeof(CBufferHeader) + static_cast<uint64_t>(n + 1) * charSize;
}

// A new buffer for n characters (count 1, length n, first character zero), taken from the
// pool of its size class or from StringHeap.
CBufferHeader* AllocateBuffer(int32_t n, uint64_t charSize);

// Gives the block back by its capacity. Only for a buffer whose last reference went away.
void FreeBuffer(CBufferHeader* buffer);

// Makes buffer writable for n characters by the growth rule (see UnicodeString.cpp).
void MakeWritable(CBufferHeader*& buffer, int32_t n, uint64_t charSize);

inline CBufferHeader* AddReference(CBufferHeader* buffer)
{
    // The caller already holds a reference, so nothing can free the block meanwhile.
    buffer->Count.fetch_add(1, std::memory_order_relaxed);
    return buffer;
}

inline void ReleaseReference(CBufferHeader* buffer)
{
    // A count of 1 is the caller's own reference: no other holder is left to add one, so the
    // block goes back without the locked decrement (acquire: the writes of holders that left
    // before happen before the block is reused). Otherwise acq_rel, for the same reason.
    if (buffer->Count.load(std::memory_order_acquire) == 1 || buffer->Count.fetch_sub(1, std::memory_order_acq_rel) < 2)
        FreeBuffer(buffer);
}

// The common append, inline so that it costs no more than the copy: the sole holder's buffer
// has room and the text lies outside the buffer. Returns false, having changed nothing, in
// every other case (growth, a shared buffer, a text from this very buffer, a null text), which
// the caller's out-of-line path handles by the growth rule.
template <class Char>
inline bool AppendInPlace(CBufferHeader* buffer, const Char* text, int32_t length)
{
    const int32_t current = buffer->Length;
    const uint64_t capacity = buffer->Capacity;
    // One unsigned compare covers both sides: a text below the block wraps to a large offset.
    const bool outside = reinterpret_cast<uintptr_t>(text) - reinterpret_cast<uintptr_t>(buffer) >= capacity;
    // acquire: another holder's release of its reference happens before we write.
    if (text == nullptr || !outside || capacity < NeededBytes(static_cast<int64_t>(current) + length, sizeof(Char)) ||
        buffer->Count.load(std::memory_order_acquire) != 1)
        return false;
    Char* chars = CharsOf<Char>(buffer);
    std::memcpy(chars + current, text, static_cast<size_t>(length) * sizeof(Char));
    chars[current + length] = 0;
    buffer->Length = current + length; // capacity bounds the sum, so it cannot overflow
    return true;
}

// What the wide string and its narrow twin share: the one buffer pointer, copying and
// releasing, and the editing operations whose rules do not depend on the code unit. A violated
// contract is reported at the source path of the class in use.
template <class Char>
class CStringCore {
public:
    CStringCore() : buffer(AddReference(EmptyBufferOf<Char>())) {}
    CStringCore(const Char* text);                 // null or "" share the empty buffer
    CStringCore(const Char* text, int32_t length); // length below 1 gives the empty string
    CStringCore(const CStringCore& other) : buffer(AddReference(other.buffer)) {}
    CStringCore(CStringCore&& other) noexcept : buffer(other.buffer)
    {
        other.buffer = AddReference(EmptyBufferOf<Char>());
    }
    ~CStringCore() { ReleaseReference(buffer); }

    // The new reference is taken before the old one goes, so assigning a string to itself keeps
    // its buffer.
    CStringCore& operator=(const CStringCore& other) // NOLINT(bugprone-unhandled-self-assignment)
    {
        CBufferHeader* old = buffer;
        buffer = AddReference(other.buffer);
        ReleaseReference(old);
        return *this;
    }
    CStringCore& operator=(CStringCore&& other) noexcept
    {
        if (this != &other) {
            CBufferHeader* old = buffer;
            buffer = other.buffer;
            other.buffer = AddReference(EmptyBufferOf<Char>());
            ReleaseReference(old);
        }
        return *this;
    }

    int32_t GetLength() const { return buffer->Length; }
    bool IsEmpty() const { return buffer->Length == 0; }
    const Char* GetText() const { return CharsOf<Char>(buffer); } // never null
    operator const Char*() const { return GetText(); }
    // Byte size of the block behind the string, header included (32, 64, 128 or exact).
    uint64_t GetCapacity() const { return buffer->Capacity; }
    bool SharesBufferWith(const CStringCore& other) const { return buffer == other.buffer; }

    void Assign(const Char* text, int32_t length);
    // text may point into this string's own buffer.
    void Append(const Char* text, int32_t length)
    {
        if (length > 0 && !AppendInPlace(buffer, text, length))
            AppendSlowPath(text, length);
    }
    void SetLength(int32_t n); // n not above the current length
    void Empty();

    // Writable room for n characters; the length stays until ReleaseBuffer, which takes the
    // length of the zero-terminated text when given -1.
    Char* GetBuffer(int32_t n);
    void ReleaseBuffer(int32_t length = -1);

protected:
    struct Adopt {};
    // Takes over the caller's reference.
    CStringCore(CBufferHeader* adopted, Adopt) : buffer(adopted) {}

    void MakeWritable(int32_t n) { StringInternal::MakeWritable(buffer, n, sizeof(Char)); }
    Char* Chars() { return CharsOf<Char>(buffer); }
    bool PointsIntoBuffer(const Char* text) const;

    CBufferHeader* buffer; // never null

private:
    void AppendSlowPath(const Char* text, int32_t length);
};

} // namespace StringInternal

} // namespace Zelkor
