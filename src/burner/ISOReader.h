#pragma once
// Reads the ISO 9660 (and Joliet) directory tree of a session, from a disc or an image file.
// Everything it reads may be damaged or hostile: every length, offset and extent is checked
// against the record, the sector and the volume before use, loops are broken, and the amount
// of work is bounded.
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace burner {

// Reads one 2048-byte sector; false when it cannot be read.
using TSectorReader = std::function<bool(std::uint32_t Lba, std::uint8_t* Sector)>;

struct TISOEntry {
    int Parent = -1;     // index of the parent folder in the list, -1 for the root's children
    std::u16string Name; // Joliet name when present, else the ISO 9660 name without ";1"
    bool Directory = false;
    std::uint32_t Extent = 0; // first sector (absolute)
    std::uint64_t Size = 0;   // bytes (all extents of a multi-extent file)
    std::time_t Time = 0;
};

struct TISOVolume {
    bool Valid = false;
    bool Joliet = false;
    std::u16string Label;           // Joliet label when present, else the primary one
    std::uint32_t VolumeSpace = 0;  // sectors the volume declares
    std::vector<TISOEntry> Entries; // folders before their contents
};

// Limits that keep hostile images from costing unbounded time or memory.
constexpr std::size_t MaxISOEntries = 200000;
constexpr unsigned MaxISODepth = 64;
constexpr std::uint32_t MaxISODirectorySectors = 8192; // 16 MB of records per folder

// Reads the volume descriptors of the session starting at SessionStart. WithTree also walks the
// directory tree. Returns Valid = false when no primary volume descriptor is found.
TISOVolume ReadISOVolume(const TSectorReader& Read, std::uint32_t SessionStart, bool WithTree);

} // namespace burner
