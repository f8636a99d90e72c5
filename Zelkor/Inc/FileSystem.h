// Path names: classifying, splitting, composing and normalising them. Both '\' and '/' count
// as separators everywhere. All functions but GetFullPath, CurrentDirectory and ModuleFileName
// are pure text operations and keep no state, so they may run on any thread. The three that ask
// the platform raise a file exception with the platform's error code; violated contracts are
// internal errors of Src/FileSystem.
#pragma once

#include <windows.h>

#include <cstdint>

#include "Array.h"
#include "UnicodeString.h"

namespace Zelkor {

enum PathKind : int32_t {
    PK_Relative = 0,      // "", "a", "a\b"
    PK_Rooted = 1,        // "\", "\a", "\/x"
    PK_Unc = 2,           // "\\srv\share", "//srv", "\\?\UNC\srv"
    PK_DriveRelative = 3, // "C:", "C:x"
    PK_Absolute = 4,      // "C:\x", "\\?\C:\x"
};

// The long-path prefixes, built at start-up.
extern const CUnicodeString LongUncPrefix; // "\\?\UNC\"
extern const CUnicodeString LongPathPrefix;    // "\\?\"

PathKind GetPathKind(const CUnicodeString& path);

// "\\?\UNC\" (any case) becomes "//"; otherwise "\\?\" (exact) is removed.
CUnicodeString StripLongPrefix(const CUnicodeString& path);
bool HasLongPrefix(const CUnicodeString& path);
// Gives a share or absolute path its long prefix and turns every '/' into '\'. False when the
// path already had one; any other kind is an internal error (false when that returns).
bool AddLongPrefix(CUnicodeString& path);

// The non-empty components left to right ("C:x\y" gives "C:", "x", "y"); returns the kind.
PathKind SplitPath(const CUnicodeString& path, CArray<CUnicodeString>& components);
CUnicodeString JoinPath(const CUnicodeString& base, const CUnicodeString& tail);
// The directory part of the first with the name and extension of the second.
CUnicodeString MergePath(const CUnicodeString& directory, const CUnicodeString& file);
CUnicodeString MakePath(const CUnicodeString& drive, const CUnicodeString& directory, const CUnicodeString& name,
                        const CUnicodeString& extension);
CUnicodeString MakeAbsolutePath(const CUnicodeString& base, const CUnicodeString& path);
// "C:\" or "\\server\share\" (long prefix kept); "\" for a path without drive.
CUnicodeString GetRoot(const CUnicodeString& path);

CUnicodeString ExtractDrive(const CUnicodeString& path);     // "C:" or empty
CUnicodeString ExtractDirectory(const CUnicodeString& path); // after the drive, up to the last separator
CUnicodeString ExtractName(const CUnicodeString& path);      // without extension
CUnicodeString ExtractExtension(const CUnicodeString& path); // from the last '.', dot included
CUnicodeString ExtractPath(const CUnicodeString& path);      // drive and directory, long prefix kept
CUnicodeString ExtractFileName(const CUnicodeString& path);  // name and extension

CUnicodeString AddPathSeparator(const CUnicodeString& path);
// Cuts the last component; false (path unchanged) when the parent would be no path, a bare
// drive or a bare server.
bool RemoveLastPathComponent(CUnicodeString& path);

// These ask the platform.
void GetFullPath(CUnicodeString& path);
CUnicodeString CurrentDirectory();
CUnicodeString ModuleFileName(HMODULE module);

} // namespace Zelkor
