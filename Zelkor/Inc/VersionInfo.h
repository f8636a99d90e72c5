// String values of a file's version resource, and the platform version check.
#pragma once

#include <cstdint>

#include "Array.h"
#include "UnicodeString.h"

namespace Zelkor {

// Reads the whole version resource once at construction. A file without one (or one that
// cannot be read) gives empty values.
class CVersionInfo {
public:
    explicit CVersionInfo(const wchar_t* filePath);
    CVersionInfo(const CVersionInfo&) = delete;
    CVersionInfo& operator=(const CVersionInfo&) = delete;

    bool IsValid() const { return valid; }
    // The value of the first translation's string block ("\StringFileInfo\llllcccc\name");
    // empty when absent.
    CUnicodeString GetStringValue(const wchar_t* name);

private:
    CArray<uint8_t> data;
    bool valid = false;
};

// Whether the platform's version is at least major.minor; asks the platform once per process.
bool IsWindowsVersionAtLeast(uint32_t major, uint32_t minor);

} // namespace Zelkor
