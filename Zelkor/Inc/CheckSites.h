// Where a failed check is reported: the source path and the line that the failure message
// shows. Sites whose location users and tests rely on are named here, in one table, so that the
// code that checks and the tests that pin a report name the same constant. A check whose
// location nobody relies on reports where it stands, through ZELKOR_HERE.
#pragma once

#include <cstdint>

namespace Zelkor {

struct CCheckSite {
    const wchar_t* sourcePath; // framework-relative, such as "Src/File"
    int32_t line;              // the line the message shows
};

namespace CheckSite {

// Src/File: CFile::Write
inline constexpr CCheckSite FileWriteNullBuffer{L"Src/File", 153};
inline constexpr CCheckSite FileWriteBadCount{L"Src/File", 154};
inline constexpr CCheckSite FileWriteClosed{L"Src/File", 155};

// Src/Time: the local time of the message log's records
inline constexpr CCheckSite TimeLocalFileTime{L"Src/Time", 410};

} // namespace CheckSite

} // namespace Zelkor

// The site of the check written on this line.
#define ZELKOR_HERE(sourcePath) (::Zelkor::CCheckSite{sourcePath, __LINE__})
