#pragma once
// Helpers shared by the UDF structures: descriptor tags, CRC, names and time stamps.
#include "burner/image/UDFTypes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace burner {

// ECMA-167 CRC-16 (polynomial 0x1021, initial value 0).
std::uint16_t UdfCrc16(const std::uint8_t* Data, std::size_t Length);
// Fills the 16-byte tag at D: identifier, version 2, serial 1, CRC over the CrcLength bytes
// after the tag, location, and the checksum.
void UdfFinishTag(std::uint8_t* D, std::uint16_t Ident, std::uint16_t CrcLength,
                  std::uint32_t Location);
// Writes Name as an OSTA compressed string into Out (at most Room bytes): compression ID 8 when
// every character fits in 8 bits, else 16 (big-endian). Returns the bytes written.
std::size_t UdfCompressedName(const std::u16string& Name, std::uint8_t* Out, std::size_t Room);
timestamp UdfTimestampFromUnix(std::int64_t Seconds);

} // namespace burner
