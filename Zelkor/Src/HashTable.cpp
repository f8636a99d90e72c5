// Bucket counts and key hashes of the hash containers (Map.h, HashTable.h).
#include <cstdint>
#include <cwctype>

#include "Errors.h"
#include "Map.h"

namespace Zelkor {

extern const int32_t HashTableSizes[27] = {
    31,      53,       97,       193,      389,       769,       1543,      3079,      6151,
    12289,   24593,    49157,    98317,    196613,    393241,    786433,    1572869,   3145739,
    6291469, 12582917, 25165843, 50331653, 100663319, 201326611, 402653189, 805306457, 1610612741,
};

namespace HashInternal {

int32_t ChooseBucketCount(int64_t atLeast)
{
    for (int32_t size : HashTableSizes) {
        if (size >= atLeast)
            return size;
    }
    // Reached only while failures are shown instead of thrown.
    Check(false, CheckSite::HashTableSizeBeyondLargest);
    return INT32_MAX;
}

uint32_t HashText(const wchar_t* text)
{
    if (*text == 0)
        return 0;
    uint32_t hash = static_cast<uint16_t>(*text);
    while (*++text != 0)
        hash = hash * 33 + static_cast<uint16_t>(*text);
    return hash;
}

namespace {

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

int32_t LengthWithoutTrailingSeparators(const wchar_t* text, int32_t length)
{
    while (length > 0 && IsSeparator(text[length - 1]))
        --length;
    return length;
}

// Slash and backslash are one separator; case is the runtime's upper case.
uint32_t FoldPathUnit(wchar_t c)
{
    return IsSeparator(c) ? L'\\' : static_cast<uint16_t>(std::towupper(c));
}

} // namespace

uint32_t HashPath(const wchar_t* text, int32_t length)
{
    length = LengthWithoutTrailingSeparators(text, length);
    uint32_t hash = 0;
    for (int32_t i = 0; i < length; ++i)
        hash = hash * 33 + FoldPathUnit(text[i]);
    return hash;
}

bool PathsEqual(const wchar_t* left, int32_t leftLength, const wchar_t* right, int32_t rightLength)
{
    leftLength = LengthWithoutTrailingSeparators(left, leftLength);
    rightLength = LengthWithoutTrailingSeparators(right, rightLength);
    if (leftLength != rightLength)
        return false;
    for (int32_t i = 0; i < leftLength; ++i) {
        if (left[i] != right[i] && FoldPathUnit(left[i]) != FoldPathUnit(right[i]))
            return false;
    }
    return true;
}

} // namespace HashInternal

} // namespace Zelkor
