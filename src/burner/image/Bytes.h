#pragma once
// Little-, big- and both-endian stores used by the on-disc structures.
#include <cstdint>

namespace burner {

inline void PutLE16(std::uint8_t* P, std::uint16_t V) {
    P[0] = static_cast<std::uint8_t>(V);
    P[1] = static_cast<std::uint8_t>(V >> 8);
}
inline void PutBE16(std::uint8_t* P, std::uint16_t V) {
    P[0] = static_cast<std::uint8_t>(V >> 8);
    P[1] = static_cast<std::uint8_t>(V);
}
inline void PutLE32(std::uint8_t* P, std::uint32_t V) {
    for (int i = 0; i < 4; ++i)
        P[i] = static_cast<std::uint8_t>(V >> (8 * i));
}
inline void PutBE32(std::uint8_t* P, std::uint32_t V) {
    for (int i = 0; i < 4; ++i)
        P[i] = static_cast<std::uint8_t>(V >> (24 - 8 * i));
}
inline void PutLE64(std::uint8_t* P, std::uint64_t V) {
    for (int i = 0; i < 8; ++i)
        P[i] = static_cast<std::uint8_t>(V >> (8 * i));
}
inline void PutBoth16(std::uint8_t* P, std::uint16_t V) {
    PutLE16(P, V);
    PutBE16(P + 2, V);
}
inline void PutBoth32(std::uint8_t* P, std::uint32_t V) {
    PutLE32(P, V);
    PutBE32(P + 4, V);
}
inline std::uint16_t GetLE16(const std::uint8_t* P) {
    return static_cast<std::uint16_t>(P[0] | (P[1] << 8));
}
inline std::uint32_t GetLE32(const std::uint8_t* P) {
    return static_cast<std::uint32_t>(P[0]) | (static_cast<std::uint32_t>(P[1]) << 8) |
           (static_cast<std::uint32_t>(P[2]) << 16) | (static_cast<std::uint32_t>(P[3]) << 24);
}
inline std::uint32_t GetBE32(const std::uint8_t* P) {
    return (static_cast<std::uint32_t>(P[0]) << 24) | (static_cast<std::uint32_t>(P[1]) << 16) |
           (static_cast<std::uint32_t>(P[2]) << 8) | static_cast<std::uint32_t>(P[3]);
}
inline std::uint16_t GetBE16(const std::uint8_t* P) {
    return static_cast<std::uint16_t>((P[0] << 8) | P[1]);
}

constexpr std::uint32_t SectorSize = 2048;
constexpr std::uint32_t PacketSize = 65536;
constexpr std::uint32_t SectorsPerPacket = PacketSize / SectorSize;

inline std::uint32_t SectorsFor(std::int64_t Bytes) {
    return static_cast<std::uint32_t>((Bytes + SectorSize - 1) / SectorSize);
}

} // namespace burner
