// Sets of UTF-16 code units and the character classes built at start-up.
#include "UnicodeSet.h"

#include <cstring>

#include "AtomicBlockManager.h"
#include "Errors.h"
#include "GuardedStatic.h"
#include "StartupOrder.h"

namespace Zelkor {

namespace {

constexpr uint64_t PageBytes = 128; // 1024 bits
static_assert(PageBytes * 8 == 1024, "one page holds the bits of 1024 code units");

} // namespace

CUnicodeSet::CUnicodeSet(const wchar_t* members) : CUnicodeSet()
{
    Add(members);
}

CUnicodeSet::~CUnicodeSet()
{
    Clear();
}

void CUnicodeSet::Add(wchar_t c)
{
    uint32_t*& page = pages[c >> 10];
    if (page == nullptr) {
        void* block = CharSetPagePool.Take();
        std::memset(block, 0, PageBytes);
        page = static_cast<uint32_t*>(block);
    }
    page[(c & 1023) >> 5] |= 1u << (c & 31);
}

void CUnicodeSet::AddRange(wchar_t first, wchar_t last)
{
    for (uint32_t c = first; c <= last; ++c)
        Add(static_cast<wchar_t>(c));
}

void CUnicodeSet::Add(const wchar_t* members)
{
    for (; members != nullptr && *members != 0; ++members)
        Add(*members);
}

void CUnicodeSet::Clear()
{
    for (uint32_t*& page : pages) {
        if (page != nullptr) {
            CharSetPagePool.GiveBack(page);
            page = nullptr;
        }
    }
}

// Built in this order: strict whitespace, whitespace, digits.
ZELKOR_INIT(ZELKOR_ROW_CHARACTER_SETS)
CUnicodeSet StrictWhitespaceSet = GuardedInit([] {
    return CUnicodeSet(L"\x0009\x000A\x000B\x000C\x000D\x0020\x0085\x1680"
                       L"\x2000\x2001\x2002\x2003\x2004\x2005\x2006\x2007\x2008\x2009\x200A"
                       L"\x2028\x2029\x202F\x205F\x3000");
});
ZELKOR_INIT(ZELKOR_ROW_CHARACTER_SETS)
CUnicodeSet WhitespaceSet = GuardedInit([] {
    return CUnicodeSet(L"\x0009\x000A\x000B\x000C\x000D\x0020\x0085\x00A0\x1680"
                       L"\x2000\x2001\x2002\x2003\x2004\x2005\x2006\x2007\x2008\x2009\x200A"
                       L"\x2028\x2029\x202F\x205F\x3000");
});
ZELKOR_INIT(ZELKOR_ROW_CHARACTER_SETS)
CUnicodeSet DigitSet = GuardedInit([] { return CUnicodeSet(L"0123456789"); });

} // namespace Zelkor
