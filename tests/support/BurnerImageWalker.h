#pragma once
// An independent reader of the images the engine writes: follows ISO 9660 / Joliet directory
// records and the UDF structures from an anchor, checking every tag checksum, CRC and location
// on the way. Written from ECMA-119 and ECMA-167, not from the engine's code.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace imagetest {

struct TExtent {
    std::uint32_t Sector = 0; // absolute sector
    std::uint64_t Length = 0; // bytes
    bool operator==(const TExtent&) const = default;
};

struct TWalkedFile {
    bool Directory = false;
    std::vector<TExtent> Extents;
    std::uint64_t Size = 0;
    int Compression = 0; // UDF: 8 or 16 (0 for the root)
    std::uint64_t UniqueId = 0;
    std::uint32_t IcbSector = 0;
};

// Reads sectors of an image: the file, or anything else the test assembles.
using TSectorReader =
    std::function<std::vector<std::uint8_t>(std::uint32_t Sector, std::uint32_t Count)>;
TSectorReader FileSectors(const std::string& Image);

struct TUdfWalk {
    std::vector<std::string> Errors;
    std::map<std::string, TWalkedFile> Files; // "/A/b" paths; directories end without "/"
    std::uint16_t Revision = 0;               // from the domain identifier
    std::uint32_t LvidFiles = 0, LvidDirs = 0;
    std::uint32_t PartitionStart = 0;
    std::uint32_t PartitionLength = 0;
    std::uint32_t DescriptorsChecked = 0;
};
// Walks the UDF file system from the anchor at AnchorSector.
TUdfWalk WalkUdf(const TSectorReader& Read, std::uint32_t AnchorSector);

struct TIsoWalk {
    std::vector<std::string> Errors;
    std::map<std::string, TWalkedFile> Files;
    std::map<std::string, std::uint32_t> DirSize; // bytes of each directory extent
    std::uint32_t VolumeSpace = 0;
};
// Walks the primary (Joliet = false) or Joliet hierarchy; names come out as UTF-8.
TIsoWalk WalkIso(const TSectorReader& Read, bool Joliet);

// Checks a descriptor tag at D (location Expected); returns an error text or empty.
std::string CheckTag(const std::uint8_t* D, std::size_t Available, std::uint32_t Expected);

} // namespace imagetest
