// A set of UTF-16 code units as a two-level bitmap: one page pointer per run of 1024 code
// units, each page a 128-byte block of CharSetPagePool (bit c % 1024 of page c / 1024).
// An absent page means none of its code units is in the set, so sparse sets stay small.
#pragma once

#include <cstdint>

namespace Zelkor {

class CUnicodeSet {
public:
    CUnicodeSet() = default;
    // Members listed as text. An exhausted pool throws; the pages taken so far go back, since
    // the destructor runs once the delegated default constructor has completed.
    explicit CUnicodeSet(const wchar_t* members);
    ~CUnicodeSet();
    CUnicodeSet(const CUnicodeSet&) = delete;
    CUnicodeSet& operator=(const CUnicodeSet&) = delete;

    void Add(wchar_t c);
    void AddRange(wchar_t first, wchar_t last);
    void Add(const wchar_t* members);
    bool Contains(wchar_t c) const
    {
        const uint32_t* page = pages[c >> 10];
        return page != nullptr && (page[(c & 1023) >> 5] >> (c & 31) & 1) != 0;
    }
    void Clear(); // every page goes back to CharSetPagePool

private:
    static constexpr int32_t PageCount = 64;
    uint32_t* pages[PageCount] = {};
};

// U+0009-U+000D, U+0020, U+0085, U+00A0, U+1680, U+2000-U+200A, U+2028, U+2029, U+202F,
// U+205F, U+3000; StrictWhitespaceSet is the same without U+00A0.
extern CUnicodeSet WhitespaceSet;
extern CUnicodeSet StrictWhitespaceSet;
extern CUnicodeSet DigitSet; // "0123456789"

} // namespace Zelkor
