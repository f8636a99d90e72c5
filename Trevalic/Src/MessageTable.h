// The message module: the names of the 51 messages whose texts this library carries in its
// string table, and the lookup exports through which the framework's resource loader finds a
// text by name. Everything here is constant data, usable while the module is mapped, even
// before its static initialisers ran; the exports take no lock and cannot fail.
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

extern "C" {

// The Id of the message with exactly this name (ordinal, case-sensitive, whole name), or 0 when
// the name is unknown or null.
uint32_t GetResourceID(const wchar_t* name);

int32_t NumberOfMessages();

// The name of entry index, or null for an index outside 0 to NumberOfMessages() - 1.
const wchar_t* GetMessageName(int32_t index);

int32_t GetMessageSystemVersion();

// Marks the module as built with the framework; nothing reads or writes it.
extern int32_t __ZelkorUsed;
}
