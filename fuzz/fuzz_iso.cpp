// The ISO 9660 reading behind ImportSession, MountISOImage and ReadVolumeLabelOfDisc, on
// arbitrary image bytes: the volume descriptors, path of folders and records of every entry.
#include "burner/DiscBurner.h"
#include "burner/ISOReader.h"
#include "FuzzSupport.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto read = [data, size](std::uint32_t lba, std::uint8_t* sector) {
        const std::uint64_t offset = std::uint64_t(lba) * 2048;
        if (offset >= size)
            return false;
        const size_t n = std::min<std::uint64_t>(2048, size - offset);
        std::memcpy(sector, data + offset, n);
        std::memset(sector + n, 0, 2048 - n);
        return true;
    };
    const burner::TISOVolume volume = burner::ReadISOVolume(read, 0, true);
    std::size_t names = 0;
    for (const auto& e : volume.Entries)
        names += e.Name.size();
    (void)names;
    // The same bytes as an image file the burner mounts.
    const std::string file = fuzzsupport::WriteInput("input.iso", data, size);
    burner::TDiscBurner burner;
    burner.MountISOImage(file);
    return 0;
}
