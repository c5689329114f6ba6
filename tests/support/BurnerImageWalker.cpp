#include "support/BurnerImageWalker.h"

#include <cstdio>
#include <fstream>
#include <set>

namespace imagetest {

namespace {

std::uint16_t LE16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t LE32(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint32_t BE32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}
std::uint64_t LE64(const std::uint8_t* p) {
    return LE32(p) | static_cast<std::uint64_t>(LE32(p + 4)) << 32;
}

std::uint16_t Crc(const std::uint8_t* d, std::size_t n) {
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= static_cast<std::uint16_t>(d[i] << 8);
        for (int b = 0; b < 8; ++b)
            crc = static_cast<std::uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | cp >> 6));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | cp >> 12));
        out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | cp >> 18));
        out.push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string Ucs2BeToUtf8(const std::uint8_t* p, std::size_t bytes) {
    std::string out;
    for (std::size_t i = 0; i + 1 < bytes; i += 2) {
        std::uint32_t c = static_cast<std::uint32_t>(p[i] << 8 | p[i + 1]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 3 < bytes) {
            const std::uint32_t lo = static_cast<std::uint32_t>(p[i + 2] << 8 | p[i + 3]);
            c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
            i += 2;
        }
        AppendUtf8(out, c);
    }
    return out;
}

} // namespace

TSectorReader FileSectors(const std::string& Image) {
    return [Image](std::uint32_t Sector, std::uint32_t Count) {
        std::vector<std::uint8_t> out(static_cast<std::size_t>(Count) * 2048, 0);
        std::ifstream f(Image, std::ios::binary);
        f.seekg(static_cast<std::streamoff>(Sector) * 2048);
        f.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
        return out;
    };
}

std::string CheckTag(const std::uint8_t* D, std::size_t Available, std::uint32_t Expected) {
    std::uint8_t sum = 0;
    for (int i = 0; i < 16; ++i)
        if (i != 4)
            sum = static_cast<std::uint8_t>(sum + D[i]);
    char buf[160];
    if (sum != D[4]) {
        std::snprintf(buf, sizeof buf, "tag %u at %u: checksum", LE16(D), Expected);
        return buf;
    }
    const std::uint16_t crcLength = LE16(D + 10);
    if (16u + crcLength > Available) {
        std::snprintf(buf, sizeof buf, "tag %u at %u: CRC length %u too long", LE16(D), Expected,
                      crcLength);
        return buf;
    }
    if (Crc(D + 16, crcLength) != LE16(D + 8)) {
        std::snprintf(buf, sizeof buf, "tag %u at %u: CRC", LE16(D), Expected);
        return buf;
    }
    if (LE32(D + 12) != Expected) {
        std::snprintf(buf, sizeof buf, "tag %u: location %u, expected %u", LE16(D), LE32(D + 12),
                      Expected);
        return buf;
    }
    if (LE16(D + 2) != 2) {
        std::snprintf(buf, sizeof buf, "tag %u at %u: version %u", LE16(D), Expected, LE16(D + 2));
        return buf;
    }
    return std::string();
}

TUdfWalk WalkUdf(const TSectorReader& Read, std::uint32_t AnchorSector) {
    TUdfWalk w;
    auto check = [&w](const std::uint8_t* d, std::size_t avail, std::uint32_t loc,
                      std::uint16_t ident) {
        ++w.DescriptorsChecked;
        if (LE16(d) != ident) {
            w.Errors.push_back("expected tag " + std::to_string(ident) + " at " +
                               std::to_string(loc) + ", found " + std::to_string(LE16(d)));
            return false;
        }
        const std::string e = CheckTag(d, avail, loc);
        if (!e.empty())
            w.Errors.push_back(e);
        return e.empty();
    };
    const auto anchor = Read(AnchorSector, 1);
    if (!check(anchor.data(), 2048, AnchorSector, 2))
        return w;
    const std::uint32_t mainLoc = LE32(anchor.data() + 20), mainLen = LE32(anchor.data() + 16);
    const std::uint32_t resLoc = LE32(anchor.data() + 28), resLen = LE32(anchor.data() + 24);
    std::uint32_t fsdBlock = 0, lvidLoc = 0;
    std::vector<std::vector<std::uint8_t>> mainDescs;
    for (int copy = 0; copy < 2; ++copy) {
        const std::uint32_t loc = copy ? resLoc : mainLoc;
        const std::uint32_t count = (copy ? resLen : mainLen) / 2048;
        const auto seq = Read(loc, count);
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint8_t* d = seq.data() + i * 2048;
            const std::uint16_t ident = LE16(d);
            if (!check(d, 2048, loc + i, ident))
                break;
            if (copy == 0)
                mainDescs.emplace_back(d, d + 2048);
            else if (i < mainDescs.size() &&
                     !std::equal(d + 16, d + 2048, mainDescs[i].begin() + 16))
                w.Errors.push_back("reserve descriptor " + std::to_string(i) + " differs");
            if (copy == 0 && ident == 5) {
                w.PartitionStart = LE32(d + 188);
                w.PartitionLength = LE32(d + 192);
            }
            if (copy == 0 && ident == 6) {
                fsdBlock = LE32(d + 252);
                lvidLoc = LE32(d + 436);
                w.Revision = LE16(d + 216 + 24);
            }
            if (ident == 8)
                break;
        }
    }
    const auto lvid = Read(lvidLoc, 2);
    if (check(lvid.data(), 2048, lvidLoc, 9)) {
        w.LvidFiles = LE32(lvid.data() + 120);
        w.LvidDirs = LE32(lvid.data() + 124);
        check(lvid.data() + 2048, 2048, lvidLoc + 1, 8);
    }
    const std::uint32_t p = w.PartitionStart;
    const auto fsd = Read(p + fsdBlock, 2);
    if (!check(fsd.data(), 2048, fsdBlock, 256))
        return w;
    check(fsd.data() + 2048, 2048, fsdBlock + 1, 8);
    std::set<std::uint64_t> ids;
    // Depth-first over File Entries.
    std::function<void(const std::string&, std::uint32_t, int, bool)> visit =
        [&](const std::string& path, std::uint32_t block, int compression, bool isDir) {
            const auto fe = Read(p + block, 1);
            if (!check(fe.data(), 2048, block, 261))
                return;
            TWalkedFile f;
            f.Directory = fe[27] == 4;
            if (f.Directory != isDir)
                w.Errors.push_back(path + ": file type disagrees with its identifier");
            f.Size = LE64(fe.data() + 56);
            f.UniqueId = LE64(fe.data() + 160);
            f.Compression = compression;
            f.IcbSector = p + block;
            if (path != "" && !ids.insert(f.UniqueId).second)
                w.Errors.push_back(path + ": unique id repeated");
            if ((path == "") != (f.UniqueId == 0) || (path != "" && f.UniqueId < 16))
                w.Errors.push_back(path + ": unique id " + std::to_string(f.UniqueId));
            const std::uint32_t lea = LE32(fe.data() + 168), lad = LE32(fe.data() + 172);
            if (176 + lea + lad > 2048 || lad % 8) {
                w.Errors.push_back(path + ": allocation descriptor length " + std::to_string(lad));
                return;
            }
            std::uint64_t total = 0;
            for (std::uint32_t i = 0; i < lad; i += 8) {
                const std::uint32_t len = LE32(fe.data() + 176 + lea + i) & 0x3FFFFFFF;
                const std::uint32_t pos = LE32(fe.data() + 180 + lea + i);
                f.Extents.push_back({len ? p + pos : 0, len});
                total += len;
            }
            if (total != f.Size)
                w.Errors.push_back(path + ": extents hold " + std::to_string(total) + " of " +
                                   std::to_string(f.Size) + " bytes");
            if (LE64(fe.data() + 64) != (f.Size + 2047) / 2048)
                w.Errors.push_back(path + ": logical blocks recorded");
            w.Files[path.empty() ? "/" : path] = f;
            if (!f.Directory)
                return;
            // The identifiers, each tag located at the block where the descriptor starts.
            std::vector<std::uint8_t> data;
            std::vector<std::uint32_t> blockOf; // partition block of each 2048-byte piece
            for (const TExtent& e : f.Extents) {
                const std::uint32_t n = static_cast<std::uint32_t>((e.Length + 2047) / 2048);
                const auto bytes = Read(e.Sector, n);
                data.insert(data.end(), bytes.begin(),
                            bytes.begin() + static_cast<std::ptrdiff_t>(e.Length));
                for (std::uint32_t k = 0; k < n; ++k)
                    blockOf.push_back(e.Sector - p + k);
            }
            std::size_t off = 0;
            bool first = true;
            while (off < data.size()) {
                const std::uint8_t* d = data.data() + off;
                if (data.size() - off < 38) {
                    w.Errors.push_back(path + ": truncated identifier");
                    break;
                }
                const std::uint8_t lfi = d[19];
                const std::uint16_t liu = LE16(d + 36);
                const std::size_t len = (38 + lfi + liu + 3) & ~std::size_t{3};
                if (!check(d, data.size() - off, blockOf[off / 2048], 257))
                    return;
                if (LE16(d + 10) != len - 16)
                    w.Errors.push_back(path + ": identifier CRC length");
                const std::uint8_t ch = d[18];
                const std::uint32_t target = LE32(d + 24);
                if (first != ((ch & 8) != 0))
                    w.Errors.push_back(path + ": parent entry not first");
                if (!(ch & 8)) {
                    const std::uint8_t* name = d + 38 + liu;
                    std::string utf8;
                    if (lfi == 0 || (name[0] != 8 && name[0] != 16)) {
                        w.Errors.push_back(path + ": bad name compression");
                    } else if (name[0] == 8) {
                        for (int i = 1; i < lfi; ++i)
                            AppendUtf8(utf8, name[i]);
                    } else {
                        utf8 = Ucs2BeToUtf8(name + 1, lfi - 1u);
                    }
                    visit(path + "/" + utf8, target, lfi ? name[0] : 0, (ch & 2) != 0);
                } else if (path.empty() && target != block) {
                    w.Errors.push_back("root parent entry does not point at the root");
                }
                first = false;
                off += len;
            }
        };
    const std::uint32_t root = LE32(fsd.data() + 404);
    visit("", root, 0, true);
    return w;
}

TIsoWalk WalkIso(const TSectorReader& Read, bool Joliet) {
    TIsoWalk w;
    std::uint32_t rootExtent = 0, rootSize = 0;
    for (std::uint32_t s = 16; s < 32; ++s) {
        const auto vd = Read(s, 1);
        if (vd[0] == 255)
            break;
        const bool joliet = vd[0] == 2 && vd[88] == 0x25 && vd[89] == 0x2F;
        if ((vd[0] == 1 && !Joliet) || (joliet && Joliet)) {
            rootExtent = LE32(vd.data() + 156 + 2);
            rootSize = LE32(vd.data() + 156 + 10);
            w.VolumeSpace = LE32(vd.data() + 80);
            if (BE32(vd.data() + 80 + 4) != w.VolumeSpace)
                w.Errors.push_back("volume space size halves disagree");
        }
    }
    if (!rootExtent) {
        w.Errors.push_back("no volume descriptor");
        return w;
    }
    std::function<void(const std::string&, std::uint32_t, std::uint32_t, int)> visit =
        [&](const std::string& path, std::uint32_t extent, std::uint32_t size, int depth) {
            w.DirSize[path.empty() ? "/" : path] = size;
            if (depth > 64)
                return;
            const auto data = Read(extent, size / 2048);
            std::size_t off = 0;
            int index = 0;
            std::string pendingName;
            TWalkedFile pending;
            while (off < data.size()) {
                const std::uint8_t len = data[off];
                if (len == 0) {
                    off = (off / 2048 + 1) * 2048; // the rest of the sector is padding
                    continue;
                }
                if (off % 2048 + len > 2048)
                    w.Errors.push_back(path + ": record crosses a sector");
                const std::uint8_t* r = data.data() + off;
                if (LE32(r + 2) != BE32(r + 6) || LE32(r + 10) != BE32(r + 14))
                    w.Errors.push_back(path + ": both-endian halves disagree");
                const std::uint8_t idLen = r[32];
                if (len % 2 || len < 33 + idLen)
                    w.Errors.push_back(path + ": record length");
                const std::uint32_t ext = LE32(r + 2), sz = LE32(r + 10);
                const std::uint8_t flags = r[25];
                if (index++ >= 2) {
                    const std::string name =
                        Joliet ? Ucs2BeToUtf8(r + 33, idLen)
                               : std::string(reinterpret_cast<const char*>(r + 33), idLen);
                    const std::string child = path + "/" + name;
                    if (flags & 2) {
                        TWalkedFile d;
                        d.Directory = true;
                        d.Extents.push_back({ext, sz});
                        w.Files[child] = d;
                        visit(child, ext, sz, depth + 1);
                    } else {
                        TWalkedFile& f = w.Files[child];
                        f.Extents.push_back({sz ? ext : 0, sz});
                        f.Size += sz;
                    }
                }
                off += len;
            }
        };
    visit("", rootExtent, rootSize, 0);
    return w;
}

} // namespace imagetest
