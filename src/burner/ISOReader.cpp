#include "burner/ISOReader.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace burner {

namespace {

constexpr std::uint32_t Sector = 2048;

std::uint32_t LE32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}

std::u16string TrimRight(std::u16string s) {
    while (!s.empty() && (s.back() == u' ' || s.back() == 0))
        s.pop_back();
    return s;
}

std::u16string AsciiField(const std::uint8_t* p, std::size_t n) {
    std::u16string s;
    for (std::size_t i = 0; i < n; ++i)
        s.push_back(p[i] < 0x80 ? char16_t(p[i]) : u'_');
    return TrimRight(s);
}

std::u16string UcsField(const std::uint8_t* p, std::size_t n) {
    std::u16string s;
    for (std::size_t i = 0; i + 1 < n; i += 2)
        s.push_back(char16_t((p[i] << 8) | p[i + 1]));
    return TrimRight(s);
}

bool IsJolietEscape(const std::uint8_t* d) {
    return d[88] == '%' && d[89] == '/' && (d[90] == '@' || d[90] == 'C' || d[90] == 'E');
}

std::time_t RecordTime(const std::uint8_t* t) {
    std::tm tm{};
    tm.tm_year = t[0];
    tm.tm_mon = t[1] >= 1 && t[1] <= 12 ? t[1] - 1 : 0;
    tm.tm_mday = t[2] >= 1 && t[2] <= 31 ? t[2] : 1;
    tm.tm_hour = t[3] < 24 ? t[3] : 0;
    tm.tm_min = t[4] < 60 ? t[4] : 0;
    tm.tm_sec = t[5] < 60 ? t[5] : 0;
    const auto offset = static_cast<std::int8_t>(t[6]); // quarter hours east of UTC
    std::time_t v = ::timegm(&tm);
    if (offset >= -48 && offset <= 52)
        v -= static_cast<std::time_t>(offset) * 15 * 60;
    return v;
}

class TWalker {
public:
    TWalker(const TSectorReader& Read, TISOVolume& Volume, bool Joliet, std::uint32_t Limit)
        : FRead(Read), FVolume(Volume), FJoliet(Joliet), FLimit(Limit) {}

    void Walk(std::uint32_t Extent, std::uint64_t Size, int Parent, unsigned Depth) {
        if (Depth > MaxISODepth || !FVisited.insert(Extent).second)
            return;
        std::uint64_t sectors = (Size + Sector - 1) / Sector;
        if (sectors > MaxISODirectorySectors)
            sectors = MaxISODirectorySectors;
        if (!InVolume(Extent, sectors))
            return;
        std::vector<std::pair<std::uint32_t, std::uint64_t>> subdirs;
        std::vector<int> subIndex;
        std::uint8_t buf[Sector];
        for (std::uint32_t s = 0; s < sectors; ++s) {
            if (!FRead(Extent + s, buf))
                return;
            std::size_t pos = 0;
            while (pos < Sector) {
                const std::size_t len = buf[pos];
                if (len == 0)
                    break; // the rest of this sector is padding
                if (len < 34 || pos + len > Sector)
                    break;
                const std::uint8_t* r = buf + pos;
                pos += len;
                const std::size_t nameLen = r[32];
                if (33 + nameLen > len || nameLen == 0)
                    continue;
                if (nameLen == 1 && (r[33] == 0 || r[33] == 1))
                    continue; // "." and ".."
                if (FVolume.Entries.size() >= MaxISOEntries)
                    return;
                const bool dir = (r[25] & 0x02) != 0;
                const std::uint32_t extent = LE32(r + 2);
                const std::uint32_t size = LE32(r + 10);
                std::u16string name = Name(r + 33, nameLen, dir);
                if (name.empty())
                    continue;
                // A file in several extents: further records of the same name add their size.
                if (!dir && !FVolume.Entries.empty() && FPrevMultiExtent) {
                    TISOEntry& prev = FVolume.Entries.back();
                    if (prev.Parent == Parent && prev.Name == name && !prev.Directory) {
                        prev.Size += size;
                        FPrevMultiExtent = (r[25] & 0x80) != 0;
                        continue;
                    }
                }
                FPrevMultiExtent = !dir && (r[25] & 0x80) != 0;
                TISOEntry e;
                e.Parent = Parent;
                e.Name = std::move(name);
                e.Directory = dir;
                e.Extent = extent;
                e.Size = size;
                e.Time = RecordTime(r + 18);
                FVolume.Entries.push_back(e);
                if (dir) {
                    subdirs.emplace_back(extent, size);
                    subIndex.push_back(static_cast<int>(FVolume.Entries.size() - 1));
                }
            }
        }
        FPrevMultiExtent = false;
        for (std::size_t i = 0; i < subdirs.size(); ++i)
            Walk(subdirs[i].first, subdirs[i].second, subIndex[i], Depth + 1);
    }

private:
    bool InVolume(std::uint32_t Extent, std::uint64_t Sectors) const {
        return FLimit == 0 || (Extent < FLimit && Sectors <= FLimit - Extent);
    }

    std::u16string Name(const std::uint8_t* p, std::size_t n, bool Dir) const {
        std::u16string name = FJoliet ? UcsField(p, n) : AsciiField(p, n);
        if (!Dir) {
            const auto semi = name.find(u';');
            if (semi != std::u16string::npos)
                name.resize(semi);
            if (!name.empty() && name.back() == u'.')
                name.pop_back();
        }
        // Names that would escape their folder are left out.
        if (name == u"." || name == u".." || name.find(u'/') != std::u16string::npos ||
            name.find(u'\\') != std::u16string::npos ||
            name.find(char16_t(0)) != std::u16string::npos)
            return std::u16string();
        return name;
    }

    const TSectorReader& FRead;
    TISOVolume& FVolume;
    bool FJoliet;
    std::uint32_t FLimit;
    std::set<std::uint32_t> FVisited;
    bool FPrevMultiExtent = false;
};

} // namespace

TISOVolume ReadISOVolume(const TSectorReader& Read, std::uint32_t SessionStart, bool WithTree) {
    TISOVolume v;
    std::uint8_t d[Sector];
    std::uint8_t primaryRoot[34] = {}, jolietRoot[34] = {};
    std::u16string primaryLabel, jolietLabel;
    bool primary = false;
    // The descriptor set ends with a terminator; a damaged one ends at 64 descriptors.
    for (std::uint32_t i = 0; i < 64; ++i) {
        const std::uint64_t lba = std::uint64_t(SessionStart) + 16 + i;
        if (lba > 0xFFFFFFFFu || !Read(static_cast<std::uint32_t>(lba), d))
            break;
        if (std::memcmp(d + 1, "CD001", 5) != 0)
            break;
        if (d[0] == 255)
            break;
        if (d[0] == 1 && !primary) {
            primary = true;
            primaryLabel = AsciiField(d + 40, 32);
            v.VolumeSpace = LE32(d + 80);
            std::memcpy(primaryRoot, d + 156, 34);
        } else if (d[0] == 2 && IsJolietEscape(d) && !v.Joliet) {
            v.Joliet = true;
            jolietLabel = UcsField(d + 40, 32);
            std::memcpy(jolietRoot, d + 156, 34);
        }
    }
    if (!primary)
        return v;
    v.Valid = true;
    v.Label = v.Joliet ? jolietLabel : primaryLabel;
    if (WithTree) {
        const std::uint8_t* root = v.Joliet ? jolietRoot : primaryRoot;
        // Extents in the records are absolute; the volume ends VolumeSpace sectors on.
        const std::uint64_t limit = std::uint64_t(SessionStart) + v.VolumeSpace;
        TWalker walker(Read, v, v.Joliet,
                       v.VolumeSpace == 0 ? 0
                                          : static_cast<std::uint32_t>(
                                                std::min<std::uint64_t>(limit, 0xFFFFFFFFu)));
        walker.Walk(LE32(root + 2), LE32(root + 10), -1, 0);
    }
    return v;
}

} // namespace burner
