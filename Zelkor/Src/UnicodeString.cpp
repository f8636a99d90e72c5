// Reference-counted wide strings: buffer management and the string core shared with the
// narrow twin, the wide editing operations, formatting, placeholders, resources and conversions.
#include "UnicodeString.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>

#include "Alloc.h"
#include "AtomicBlockManager.h"
#include "Errors.h" // up: strings raise through the failure operations, whose texts are strings
#include "UnicodeSet.h"

namespace Zelkor {

namespace StringInternal {

// Constant-initialised, so strings built by any static initialiser, whatever its row, find
// them ready. The capacity is below every real need, so a write always takes a buffer of its own.
constinit CStaticEmptyBuffer<wchar_t> EmptyWideBuffer = {{2, 0, sizeof(wchar_t)}, {}};
constinit CStaticEmptyBuffer<char> EmptyNarrowBuffer = {{2, 0, sizeof(char)}, {}};

namespace {

constexpr uint64_t SmallBlock = 32;
constexpr uint64_t MediumBlock = 64;
constexpr uint64_t LargeBlock = 128;

bool IsStaticEmpty(const CBufferHeader* buffer)
{
    return buffer == &EmptyWideBuffer.Header || buffer == &EmptyNarrowBuffer.Header;
}

void Reallocate(CBufferHeader*& buffer, int32_t target, uint64_t charSize)
{
    const int32_t current = buffer->Length;
    // A sole holder's heap buffer that grows is handed to the heap as it is: one heap call,
    // which needs no copy when the heap has room behind the block. The capacity is the one a
    // fresh buffer would get.
    const uint64_t needed = NeededBytes(current > target ? current : target, charSize);
    if (buffer->Capacity > LargeBlock && needed > buffer->Capacity &&
        buffer->Count.load(std::memory_order_acquire) == 1) {
        if (void* resized = StringHeap.ReallocSized(buffer, buffer->Capacity, needed)) {
            buffer = static_cast<CBufferHeader*>(resized);
            buffer->Capacity = needed;
            return;
        }
    }
    CBufferHeader* fresh = AllocateBuffer(current > target ? current : target, charSize);
    fresh->Length = current;
    std::memcpy(CharsOf<char>(fresh), CharsOf<char>(buffer), static_cast<uint64_t>(current + 1) * charSize);
    CBufferHeader* old = buffer;
    buffer = fresh;
    ReleaseReference(old);
}

} // namespace

CBufferHeader* AllocateBuffer(int32_t n, uint64_t charSize)
{
    const uint64_t needed = NeededBytes(n, charSize);
    void* block;
    uint64_t capacity;
    if (needed <= SmallBlock) {
        block = StringPool32.Take();
        capacity = SmallBlock;
    } else if (needed <= MediumBlock) {
        block = StringPool64.Take();
        capacity = MediumBlock;
    } else if (needed <= LargeBlock) {
        block = StringPool128.Take();
        capacity = LargeBlock;
    } else {
        block = StringHeap.AllocSized(needed);
        capacity = needed;
    }
    if (block == nullptr)
        ThrowMemoryException();
    auto* buffer = new (block) CBufferHeader{1, n, capacity};
    std::memset(CharsOf<char>(buffer), 0, charSize);
    return buffer;
}

void FreeBuffer(CBufferHeader* buffer)
{
    // An unbalanced release must not hand a static block to a pool.
    if (IsStaticEmpty(buffer))
        return;
    const uint64_t capacity = buffer->Capacity;
    if (capacity < SmallBlock + 1)
        StringPool32.GiveBack(buffer);
    else if (capacity < MediumBlock + 1)
        StringPool64.GiveBack(buffer);
    else if (capacity < LargeBlock + 1)
        StringPool128.GiveBack(buffer);
    else {
        // Runs in destructors, which must not throw; a heap that refuses the block has
        // already reported it.
        try {
            StringHeap.FreeSized(buffer, capacity);
        } catch (CException* e) {
            delete e;
        }
    }
}

// The growth rule. A buffer is written in place only by its single holder and only when it
// already has room; small texts get an exact size class, large ones grow by a fifth of the
// current length at a time so repeated appends stay amortised without doubling memory.
void MakeWritable(CBufferHeader*& buffer, int32_t n, uint64_t charSize)
{
    const uint64_t needed = NeededBytes(n, charSize);
    if (buffer->Capacity >= needed) {
        // acquire: another holder's release of its reference happens before we write.
        if (buffer->Count.load(std::memory_order_acquire) == 1)
            return;
        Reallocate(buffer, n, charSize);
        return;
    }
    if (needed <= LargeBlock) {
        Reallocate(buffer, n, charSize);
        return;
    }
    const int64_t current = buffer->Length;
    int64_t grown = current + current / 5;
    if (grown > INT32_MAX - 1)
        grown = INT32_MAX - 1;
    Reallocate(buffer, n > grown ? n : static_cast<int32_t>(grown), charSize);
}

namespace {

// Texts longer than a 32-bit length cannot be held; that is exhausted memory for a string.
int32_t SumOfLengths(int64_t a, int64_t b)
{
    const int64_t sum = a + b;
    if (sum > INT32_MAX - 1)
        ThrowMemoryException();
    return static_cast<int32_t>(sum);
}

template <class Char>
int32_t LengthOf(const Char* text)
{
    return text == nullptr ? 0 : SumOfLengths(static_cast<int64_t>(std::char_traits<Char>::length(text)), 0);
}

// Each class reports its violated contracts at its own source.
template <class Char>
constexpr const wchar_t* SourcePathOf = sizeof(Char) == 1 ? L"Src/String" : L"Src/UnicodeString";

// An extra reference to a buffer for a scope: while it is held, the buffer's text stays put
// and a writer sharing it must copy first.
class CHeldBuffer {
public:
    CHeldBuffer() = default;
    ~CHeldBuffer()
    {
        if (held != nullptr)
            ReleaseReference(held);
    }
    CHeldBuffer(const CHeldBuffer&) = delete;
    CHeldBuffer& operator=(const CHeldBuffer&) = delete;
    void Hold(CBufferHeader* buffer) { held = AddReference(buffer); }

private:
    CBufferHeader* held = nullptr;
};

template <class Char>
CBufferHeader* NewBuffer(const Char* text, int32_t length)
{
    if (length < 1)
        return AddReference(EmptyBufferOf<Char>());
    CBufferHeader* buffer = AllocateBuffer(length, sizeof(Char));
    Char* chars = CharsOf<Char>(buffer);
    std::memcpy(chars, text, static_cast<size_t>(length) * sizeof(Char));
    chars[length] = 0;
    return buffer;
}

} // namespace

template <class Char>
CStringCore<Char>::CStringCore(const Char* text) : buffer(NewBuffer(text, LengthOf(text)))
{
}

template <class Char>
CStringCore<Char>::CStringCore(const Char* text, int32_t length) : buffer(NewBuffer(text, text == nullptr ? 0 : length))
{
    if (text == nullptr && length > 0)
        ReportFailedCheck(ZELKOR_HERE(SourcePathOf<Char>));
}

template <class Char>
bool CStringCore<Char>::PointsIntoBuffer(const Char* text) const
{
    const auto address = reinterpret_cast<uintptr_t>(text);
    const auto begin = reinterpret_cast<uintptr_t>(buffer);
    return address >= begin && address < begin + buffer->Capacity;
}

template <class Char>
void CStringCore<Char>::Assign(const Char* text, int32_t length)
{
    if (length < 0)
        length = 0;
    ZELKOR_CHECK_ARGUMENT(text != nullptr || length == 0, ZELKOR_HERE(SourcePathOf<Char>));
    if (buffer->Count.load(std::memory_order_acquire) == 1 && buffer->Capacity >= NeededBytes(length, sizeof(Char))) {
        // text may be a part of this very buffer, or null when length is 0 (which memmove does
        // not allow, even for no bytes)
        if (length > 0)
            std::memmove(Chars(), text, static_cast<size_t>(length) * sizeof(Char));
        buffer->Length = length;
        Chars()[length] = 0;
        return;
    }
    // Copy before releasing: text may live in the old buffer.
    CBufferHeader* fresh = NewBuffer(text, length);
    CBufferHeader* old = buffer;
    buffer = fresh;
    ReleaseReference(old);
}

// Growth, a shared buffer, a source inside this buffer and bad arguments; the header's inline
// part has done the rest.
template <class Char>
void CStringCore<Char>::AppendSlowPath(const Char* text, int32_t length)
{
    ZELKOR_CHECK_ARGUMENT(text != nullptr, ZELKOR_HERE(SourcePathOf<Char>));
    CHeldBuffer source;
    if (PointsIntoBuffer(text)) {
        ZELKOR_CHECK_ARGUMENT(text + length <= GetText() + GetLength(), ZELKOR_HERE(SourcePathOf<Char>));
        // The extra reference keeps the source alive (and forces a fresh buffer) while copying.
        source.Hold(buffer);
    }
    const int32_t current = GetLength();
    const int32_t total = SumOfLengths(current, length);
    MakeWritable(total);
    std::memcpy(Chars() + current, text, static_cast<size_t>(length) * sizeof(Char));
    buffer->Length = total;
    Chars()[total] = 0;
}

template <class Char>
void CStringCore<Char>::SetLength(int32_t n)
{
    const int32_t current = GetLength();
    ZELKOR_CHECK_ARGUMENT(n >= 0 && n <= current, ZELKOR_HERE(SourcePathOf<Char>));
    if (n == current)
        return;
    if (n == 0) {
        Empty();
        return;
    }
    MakeWritable(n);
    buffer->Length = n;
    Chars()[n] = 0;
}

template <class Char>
void CStringCore<Char>::Empty()
{
    if (buffer == EmptyBufferOf<Char>())
        return;
    if (buffer->Count.load(std::memory_order_acquire) == 1) {
        buffer->Length = 0;
        Chars()[0] = 0;
        return;
    }
    CBufferHeader* old = buffer;
    buffer = AddReference(EmptyBufferOf<Char>());
    ReleaseReference(old);
}

template <class Char>
Char* CStringCore<Char>::GetBuffer(int32_t n)
{
    if (n < 0) {
        ReportFailedCheck(ZELKOR_HERE(SourcePathOf<Char>));
        n = GetLength();
    }
    MakeWritable(n);
    Chars()[n] = 0;
    return Chars();
}

template <class Char>
void CStringCore<Char>::ReleaseBuffer(int32_t length)
{
    if (buffer == EmptyBufferOf<Char>()) {
        ZELKOR_CHECK_ARGUMENT(length <= 0, ZELKOR_HERE(SourcePathOf<Char>));
        return;
    }
    // Without a GetBuffer before, the buffer may still be shared.
    MakeWritable(GetLength());
    const int32_t room = static_cast<int32_t>((buffer->Capacity - sizeof(CBufferHeader)) / sizeof(Char)) - 1;
    if (length < 0) {
        const Char* end = std::char_traits<Char>::find(Chars(), room, Char());
        length = end == nullptr ? room : static_cast<int32_t>(end - Chars());
    }
    ZELKOR_CHECK_ARGUMENT(length <= room, ZELKOR_HERE(SourcePathOf<Char>));
    buffer->Length = length;
    Chars()[length] = 0;
}

template class CStringCore<char>;
template class CStringCore<wchar_t>;

} // namespace StringInternal

using namespace StringInternal;

// A violated contract is reported; where reporting returns (the thread shows failures instead
// of throwing) the operation is skipped and the string stays as it was.
constexpr const wchar_t* SourcePath = SourcePathOf<wchar_t>;

namespace {

int CompareCounted(const wchar_t* a, int32_t lengthA, const wchar_t* b, int32_t lengthB)
{
    const int result = std::wmemcmp(a, b, lengthA < lengthB ? lengthA : lengthB);
    if (result != 0)
        return result < 0 ? -1 : 1;
    return lengthA == lengthB ? 0 : (lengthA < lengthB ? -1 : 1);
}

int CompareCountedNoCase(const wchar_t* a, int32_t lengthA, const wchar_t* b, int32_t lengthB)
{
    return CompareStringOrdinal(a, lengthA, b, lengthB, TRUE) - CSTR_EQUAL;
}

} // namespace

CUnicodeString& CUnicodeString::operator=(const wchar_t* text)
{
    Assign(text, LengthOf(text));
    return *this;
}

CUnicodeString CUnicodeString::Mid(int32_t start, int32_t count) const
{
    const int32_t length = GetLength();
    ZELKOR_CHECK_ARGUMENT(start >= 0 && count >= 0 && start <= length && count <= length - start,
                          ZELKOR_HERE(SourcePath), CUnicodeString());
    if (count == 0)
        return CUnicodeString();
    if (start == 0 && count == length)
        return *this;
    return CUnicodeString(GetText() + start, count);
}

CUnicodeString CUnicodeString::Mid(int32_t start) const
{
    ZELKOR_CHECK_ARGUMENT(start >= 0 && start <= GetLength(), ZELKOR_HERE(SourcePath), CUnicodeString());
    return Mid(start, GetLength() - start);
}

CUnicodeString CUnicodeString::Left(int32_t n) const
{
    n = n < 0 ? 0 : (n > GetLength() ? GetLength() : n);
    return Mid(0, n);
}

CUnicodeString CUnicodeString::Concat(const wchar_t* text1, int32_t length1, const wchar_t* text2, int32_t length2)
{
    ZELKOR_CHECK_ARGUMENT(length1 >= 0 && length2 >= 0 && (text1 != nullptr || length1 == 0) &&
                              (text2 != nullptr || length2 == 0),
                          ZELKOR_HERE(SourcePath), CUnicodeString());
    const int32_t total = SumOfLengths(length1, length2);
    if (total == 0)
        return CUnicodeString();
    // Straight into a buffer of the exact size: no detour through the empty buffer's count.
    CBufferHeader* joined = AllocateBuffer(total, sizeof(wchar_t));
    wchar_t* chars = CharsOf<wchar_t>(joined);
    // Either text may be null with length 0, which the copy does not allow even for no units.
    if (length1 > 0)
        std::wmemcpy(chars, text1, length1);
    if (length2 > 0)
        std::wmemcpy(chars + length1, text2, length2);
    chars[total] = 0;
    return CUnicodeString(joined, Adopt{});
}

CUnicodeString& CUnicodeString::operator+=(const wchar_t* text)
{
    Append(text, LengthOf(text));
    return *this;
}

void CUnicodeString::Insert(const wchar_t* text, int32_t length, int32_t position)
{
    if (length <= 0)
        return;
    const int32_t current = GetLength();
    ZELKOR_CHECK_ARGUMENT(text != nullptr && position >= 0 && position <= current, ZELKOR_HERE(SourcePath));
    CHeldBuffer source;
    if (PointsIntoBuffer(text)) {
        ZELKOR_CHECK_ARGUMENT(text + length <= GetText() + current, ZELKOR_HERE(SourcePath));
        source.Hold(buffer);
    }
    const int32_t total = SumOfLengths(current, length);
    MakeWritable(total);
    wchar_t* chars = Chars();
    std::wmemmove(chars + position + length, chars + position, current - position + 1);
    std::wmemcpy(chars + position, text, length);
    buffer->Length = total;
}

void CUnicodeString::Delete(int32_t position, int32_t count)
{
    if (count <= 0)
        return;
    const int32_t current = GetLength();
    ZELKOR_CHECK_ARGUMENT(position >= 0 && position <= current && count <= current - position, ZELKOR_HERE(SourcePath));
    if (count == current) {
        Empty();
        return;
    }
    MakeWritable(current - count);
    wchar_t* chars = Chars();
    std::wmemmove(chars + position, chars + position + count, current - position - count + 1);
    buffer->Length = current - count;
}

void CUnicodeString::ReplacePrefix(int32_t count, const wchar_t* text, int32_t length)
{
    const int32_t current = GetLength();
    ZELKOR_CHECK_ARGUMENT(count >= 0 && count <= current && length >= 0 && (text != nullptr || length == 0),
                          ZELKOR_HERE(SourcePath));
    CHeldBuffer source;
    if (length > 0 && PointsIntoBuffer(text)) {
        ZELKOR_CHECK_ARGUMENT(text + length <= GetText() + current, ZELKOR_HERE(SourcePath));
        source.Hold(buffer);
    }
    if (count == 0 && length == 0)
        return;
    const int32_t total = SumOfLengths(current - count, length);
    if (total == 0) {
        Empty();
        return;
    }
    MakeWritable(total);
    wchar_t* chars = Chars();
    std::wmemmove(chars + length, chars + count, current - count + 1);
    if (length > 0) // text may be null when length is 0
        std::wmemcpy(chars, text, length);
    buffer->Length = total;
}

void CUnicodeString::SetAt(int32_t index, wchar_t c)
{
    ZELKOR_CHECK_ARGUMENT(index >= 0 && index < GetLength(), ZELKOR_HERE(SourcePath));
    MakeWritable(GetLength());
    Chars()[index] = c;
}

void CUnicodeString::Trim()
{
    TrimWith(WhitespaceSet);
}

void CUnicodeString::Trim(const CUnicodeSet& set)
{
    TrimWith(set);
}

void CUnicodeString::TrimWith(const CUnicodeSet& set)
{
    const wchar_t* text = GetText();
    const int32_t current = GetLength();
    int32_t end = current;
    while (end > 0 && set.Contains(text[end - 1]))
        --end;
    int32_t start = 0;
    while (start < end && set.Contains(text[start]))
        ++start;
    if (start == 0 && end == current)
        return;
    if (start == end) {
        Empty();
        return;
    }
    const int32_t length = end - start;
    MakeWritable(length);
    std::wmemmove(Chars(), Chars() + start, length);
    buffer->Length = length;
    Chars()[length] = 0;
}

void CUnicodeString::Format(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    try {
        FormatV(format, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
}

void CUnicodeString::FormatV(const wchar_t* format, va_list args)
{
    ZELKOR_CHECK_ARGUMENT(format != nullptr, ZELKOR_HERE(SourcePath));
    // A text that never fits (an encoding error also gives a negative result) must not
    // double the limit forever.
    constexpr int32_t LimitOfLimits = 1 << 27;
    // The result gets a buffer of its own: the arguments may point into this string's text.
    CUnicodeString result;
    for (int32_t limit = 256;; limit *= 2) {
        result.MakeWritable(limit);
        va_list copy;
        va_copy(copy, args);
        // The runtime's own formatter: %s is a wide string, and a cut text gives -1.
        const int written = _vsnwprintf(result.Chars(), limit, format, copy);
        va_end(copy);
        if (written == 0) {
            result = CUnicodeString(); // an empty result shares the empty buffer
            break;
        }
        if (written > 0) {
            result.buffer->Length = written;
            result.Chars()[written] = 0;
            break;
        }
        ZELKOR_CHECK_ARGUMENT(limit < LimitOfLimits, ZELKOR_HERE(SourcePath));
    }
    *this = static_cast<CUnicodeString&&>(result);
}

// Placeholders are "%" and a run of decimal digits, read greedily ("%12" is parameter 12).
// A "%" without digits stands for itself (so "%%0" gives "%" and parameter 0), a run that
// overflows 32 bits stays as written, and an index beyond the parameters vanishes.
CUnicodeString CUnicodeString::SubstParam(const wchar_t* const* parameters, int32_t count) const
{
    ZELKOR_CHECK_ARGUMENT(count >= 0 && (parameters != nullptr || count == 0), ZELKOR_HERE(SourcePath), *this);
    if (IsEmpty())
        return CUnicodeString();
    const wchar_t* text = GetText();
    const int32_t length = GetLength();
    CUnicodeString result;
    int64_t reserve = length + 16LL * count;
    result.MakeWritable(static_cast<int32_t>(reserve < INT32_MAX / 4 ? reserve : INT32_MAX / 4));
    int32_t position = 0;
    while (position < length) {
        const wchar_t* percent = std::wmemchr(text + position, L'%', length - position);
        if (percent == nullptr || percent == text + length - 1) {
            result.Append(text + position, length - position);
            break;
        }
        const int32_t at = static_cast<int32_t>(percent - text);
        result.Append(text + position, at - position);
        int32_t end = at + 1;
        int64_t index = 0;
        while (end < length && DigitSet.Contains(text[end])) {
            if (index <= INT32_MAX)
                index = index * 10 + (text[end] - L'0');
            ++end;
        }
        if (end == at + 1) {
            result.Append(L"%", 1);
            position = at + 1;
            continue;
        }
        if (index > INT32_MAX)
            result.Append(text + at, end - at);
        else if (index < count && parameters[index] != nullptr)
            result.Append(parameters[index], LengthOf(parameters[index]));
        position = end;
    }
    if (result.IsEmpty())
        return CUnicodeString();
    return result;
}

CUnicodeString CUnicodeString::SubstParam(const CUnicodeString* parameters, int32_t count) const
{
    ZELKOR_CHECK_ARGUMENT(count >= 0 && (parameters != nullptr || count == 0), ZELKOR_HERE(SourcePath), *this);
    constexpr int32_t OnStack = 16;
    const wchar_t* local[OnStack] = {};
    std::unique_ptr<const wchar_t*[]> onHeap;
    const wchar_t** texts = local;
    if (count > OnStack) {
        onHeap.reset(new const wchar_t*[count]);
        texts = onHeap.get();
    }
    for (int32_t i = 0; i < count; ++i)
        texts[i] = parameters[i].GetText();
    return SubstParam(texts, count);
}

bool CUnicodeString::LoadFromResource(HMODULE module, uint32_t id)
{
    ZELKOR_CHECK_ARGUMENT(module != nullptr, ZELKOR_HERE(SourcePath), false);
    int count = 0;
    // A count of limit - 1 may be a text the platform cut to fit; try again with more room.
    for (int32_t limit = 127;; limit *= 2) {
        MakeWritable(2 * limit);
        SetLastError(0);
        count = LoadStringW(module, id, Chars(), limit);
        ZELKOR_CHECK_ARGUMENT(count >= 0 && count < 2 * limit, ZELKOR_HERE(SourcePath), false);
        buffer->Length = count;
        Chars()[count] = 0;
        if (count < limit - 1)
            break;
    }
    if (count == 0) {
        // An empty entry loads as nothing too; only the platform's error tells them apart.
        const DWORD error = GetLastError();
        *this = CUnicodeString(); // the loading room is not kept for an empty text
        return error == 0;
    }
    return true;
}

void CUnicodeString::FromInt(int32_t value, int radix)
{
    ZELKOR_CHECK_ARGUMENT(radix >= 2 && radix <= 36, ZELKOR_HERE(SourcePath));
    MakeWritable(40);
    _itow_s(value, Chars(), 41, radix);
    buffer->Length = static_cast<int32_t>(std::wcslen(Chars()));
}

void CUnicodeString::FromUInt(uint32_t value, int radix)
{
    ZELKOR_CHECK_ARGUMENT(radix >= 2 && radix <= 36, ZELKOR_HERE(SourcePath));
    MakeWritable(40);
    _ultow_s(value, Chars(), 41, radix);
    buffer->Length = static_cast<int32_t>(std::wcslen(Chars()));
}

bool CUnicodeString::ParseBool(bool& out) const
{
    CUnicodeString trimmed(*this);
    trimmed.Trim();
    static const wchar_t* const Words[] = {L"true", L"on", L"yes", L"1", L"false", L"off", L"no", L"0"};
    for (int i = 0; i < 8; ++i) {
        if (trimmed.CompareNoCase(Words[i]) == 0) {
            out = i < 4;
            return true;
        }
    }
    return false;
}

bool CUnicodeString::ParseInt(int32_t& out) const
{
    const wchar_t* text = GetText();
    const wchar_t* end = text + GetLength();
    while (text < end && WhitespaceSet.Contains(*text))
        ++text;
    wchar_t* after = nullptr;
    errno = 0;
    const long value = std::wcstol(text, &after, 10);
    if (errno == ERANGE || after == text)
        return false;
    for (const wchar_t* rest = after; rest < end; ++rest) {
        if (!WhitespaceSet.Contains(*rest))
            return false;
    }
    out = static_cast<int32_t>(value);
    return true;
}

namespace {

// Code pages whose conversion refuses any flag.
bool TakesNoFlags(uint32_t codePage)
{
    switch (codePage) {
    case 42:
    case 50220:
    case 50221:
    case 50222:
    case 50225:
    case 50227:
    case 50229:
    case 52936:
    case 54936:
    case 65000:
    case 65001: return true;
    default: return codePage >= 57002 && codePage <= 57011;
    }
}

} // namespace

CString CUnicodeString::ToMultiByte(uint32_t codePage) const
{
    return ToMultiByte(GetText(), GetLength(), codePage);
}

CString CUnicodeString::ToMultiByte(const wchar_t* text, int32_t length, uint32_t codePage)
{
    if (length < 0)
        length = LengthOf(text);
    if (text == nullptr || length == 0)
        return CString();
    const uint32_t resolved = codePage == 0 ? GetACP() : (codePage == 1 ? GetOEMCP() : codePage);
    const DWORD flags = TakesNoFlags(resolved) ? 0 : WC_COMPOSITECHECK | WC_SEPCHARS;
    const int size = WideCharToMultiByte(resolved, flags, text, length, nullptr, 0, nullptr, nullptr);
    CheckLastError(size != 0, ZELKOR_HERE(SourcePath));
    if (size == 0)
        return CString();
    CString result;
    char* out = result.GetBuffer(size);
    const int written = WideCharToMultiByte(resolved, flags, text, length, out, size, nullptr, nullptr);
    out[written > 0 ? written : 0] = 0;
    result.ReleaseBuffer(static_cast<int32_t>(strnlen(out, size)));
    if (result.IsEmpty())
        return CString();
    return result;
}

int32_t CUnicodeString::Find(wchar_t c, int32_t start) const
{
    ZELKOR_CHECK_ARGUMENT(start >= 0, ZELKOR_HERE(SourcePath), -1);
    if (start >= GetLength())
        return -1;
    const wchar_t* found = std::wmemchr(GetText() + start, c, GetLength() - start);
    return found == nullptr ? -1 : static_cast<int32_t>(found - GetText());
}

int32_t CUnicodeString::Find(const wchar_t* text, int32_t start) const
{
    ZELKOR_CHECK_ARGUMENT(start >= 0 && text != nullptr, ZELKOR_HERE(SourcePath), -1);
    const int32_t length = LengthOf(text);
    for (int32_t i = start; i <= GetLength() - length; ++i) {
        if (std::wmemcmp(GetText() + i, text, length) == 0)
            return i;
    }
    return -1;
}

bool CUnicodeString::StartsWith(const wchar_t* text) const
{
    const int32_t length = LengthOf(text);
    return length <= GetLength() && std::wmemcmp(GetText(), text, length) == 0;
}

int CUnicodeString::Compare(const CUnicodeString& other) const
{
    return CompareCounted(GetText(), GetLength(), other.GetText(), other.GetLength());
}

int CUnicodeString::CompareNoCase(const CUnicodeString& other) const
{
    return CompareCountedNoCase(GetText(), GetLength(), other.GetText(), other.GetLength());
}

int CUnicodeString::Compare(const wchar_t* text) const
{
    return CompareCounted(GetText(), GetLength(), text == nullptr ? L"" : text, LengthOf(text));
}

int CUnicodeString::CompareNoCase(const wchar_t* text) const
{
    return CompareCountedNoCase(GetText(), GetLength(), text == nullptr ? L"" : text, LengthOf(text));
}

bool operator==(const CUnicodeString& left, const CUnicodeString& right)
{
    return left.SharesBufferWith(right) ||
        (left.GetLength() == right.GetLength() && std::wmemcmp(left.GetText(), right.GetText(), left.GetLength()) == 0);
}

bool operator==(const CUnicodeString& left, const wchar_t* right)
{
    return left.Compare(right) == 0;
}

bool operator==(const wchar_t* left, const CUnicodeString& right)
{
    return right.Compare(left) == 0;
}

CUnicodeString operator+(const CUnicodeString& left, const CUnicodeString& right)
{
    return CUnicodeString::Concat(left.GetText(), left.GetLength(), right.GetText(), right.GetLength());
}

CUnicodeString operator+(const CUnicodeString& left, const wchar_t* right)
{
    return CUnicodeString::Concat(left.GetText(), left.GetLength(), right == nullptr ? L"" : right,
                                  right == nullptr ? 0 : static_cast<int32_t>(std::wcslen(right)));
}

CUnicodeString operator+(const wchar_t* left, const CUnicodeString& right)
{
    return CUnicodeString::Concat(left == nullptr ? L"" : left,
                                  left == nullptr ? 0 : static_cast<int32_t>(std::wcslen(left)), right.GetText(),
                                  right.GetLength());
}

CUnicodeString operator+(const CUnicodeString& left, wchar_t right)
{
    return CUnicodeString::Concat(left.GetText(), left.GetLength(), &right, 1);
}

} // namespace Zelkor
