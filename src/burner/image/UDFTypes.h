#pragma once
// Layout state of the UDF bridge: fixed places of the volume structures and the position of the
// generator that emits the directory structure area while the image streams.
#include <cstdint>
#include <vector>

namespace burner {

struct TDirEntry;
struct TFileEntry;

// ECMA-167 timestamp (12 bytes on disc).
struct timestamp {
    std::uint16_t typeAndTimezone = 0;
    std::int16_t year = 0;
    std::uint8_t month = 0, day = 0, hour = 0, minute = 0, second = 0;
    std::uint8_t centiseconds = 0, hundredsOfMicroseconds = 0, microseconds = 0;
};

enum class FileDirWritingStatus { WritingDirICB, WritingDirData, WritingFileICB };

// One piece of the directory structure area, in the order the area is written.
struct TUDFAreaItem {
    FileDirWritingStatus Kind;
    TDirEntry* Dir;   // the directory (WritingDirICB, WritingDirData)
    TFileEntry* File; // the file (WritingFileICB)
};

struct UDFBridgeInformation {
    std::uint8_t VolumeIdentifier[31] = {};
    std::uint8_t FIDContainer[296] = {};
    std::int8_t UDFVolumeIdentifierLength = 0;
    std::uint16_t PartialFIDLengthRecovered = 0;
    std::uint16_t PartialFIDLengthToRecover = 0;
    std::uint32_t NumberOfDirectories = 0;
    std::uint32_t NumberOfFiles = 0;
    std::uint32_t VolumeRecognitionSequence_LSAWRTSession = 0;
    std::uint32_t AnchorVolumeDescriptorPointer_LSAWRTSession = 256;
    std::uint32_t MainVolumeDescriptorSequenceExtent_LSAWRTSession = 32;
    std::uint32_t ReserveVolumeDescriptorSequenceExtent_LSAWRTSession = 48;
    std::uint32_t LogicalVolumeIntegrityDescriptor_LSAWRTSession = 64;
    std::uint32_t PartitionStarting_LSA = 257;
    std::uint32_t LengthOfPartitionPortionInSession_LBS = 0;
    std::uint32_t FileSetDescriptor_LSAWRTSession = 257;
    std::uint32_t RootDirectoryICB_LSAWRTSession = 0;
    std::uint32_t NumberOfBlocksRequiredForFileDirStructures = 0;
    std::uint32_t NextAvailableLSOffsetWRTSession = 0;
    std::uint32_t BlockOffsetWritingDirData = 0;
    std::uint32_t ISODataPortionStarting_LSAWRTSession = 0;
    std::uint32_t LastAnchorVolumeDescriptorPointer_LSAWRTSession = 0;
    std::uint32_t SessionStarting_LSA = 0;
    std::int64_t ICB_UniqueID = 16;
    bool BackTrack = false;
    bool IsPartialFID = false;
    bool IsDiscLayoutExhausted = false;
    bool IsNewPacketRequiredForLastAVDP = false;
    TDirEntry* CurrentDirEntry = nullptr;
    FileDirWritingStatus Status = FileDirWritingStatus::WritingDirICB;
    timestamp UDFTimeStamp;
    // UDF revision written in the domain and revision fields: 0x0102 for DVD-Video, else 0x0150.
    std::uint16_t Revision = 0x0150;
    // The directory structure area in writing order, and the generator's place in it.
    std::vector<TUDFAreaItem> Area;
    std::size_t AreaIndex = 0;
};

} // namespace burner
