// The message module: the names of the 51 messages whose texts this library carries in its
// string table, behind the lookup exports (declared in Trevalic.h) through which the
// framework's resource loader finds a text by name. Everything here is constant data, usable
// while the module is mapped, even before its static initialisers ran; the exports take no
// lock and cannot fail.
#pragma once

#include <cstdint>

namespace Trevalic {

struct CMessageTableEntry {
    uint32_t Id;         // string-table identifier of the English text
    const wchar_t* Name; // the message's name
};

constexpr int32_t MessageCount = 51;
constexpr uint32_t FirstMessageId = 4096;

// The version of the message-module protocol the exports implement.
constexpr int32_t MessageSystemVersion = 200;

// Sorted by Name in ascending order of UTF-16 code units, so that "_" sorts after the capital
// letters; entry i has Id FirstMessageId + i. GetResourceID's binary search relies on both.
extern const CMessageTableEntry MessageTable[MessageCount];

} // namespace Trevalic
