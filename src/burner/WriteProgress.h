#pragma once
// What a burn's writer shares with the component while it runs: how it waits, and the
// progress figures callers poll from other threads.
#include <atomic>
#include <cstdint>
#include <functional>

namespace burner {

// Sleeps the given milliseconds; tests replace it so that the drive waits (up to 5 s each)
// and the retry pauses cost nothing.
using TWaitFunction = std::function<void(unsigned Milliseconds)>;
void RealWait(unsigned Milliseconds);

struct TWriteProgress {
    std::atomic<std::uint32_t> DeviceBufferSize{0};
    std::atomic<std::uint32_t> DeviceBufferPosition{0}; // bytes held in the drive buffer
    std::atomic<std::uint16_t> WriteSpeed{0};           // KB/s over the last 64 writes
    std::atomic<std::uint32_t> Starved{0};              // times the writer found the queue empty
    std::atomic<std::uint32_t> Retries{0};              // failed write attempts that were retried
    std::atomic<std::uint32_t> Formats{0};              // formats of a DVD+RW answering 30h/05h
};

} // namespace burner
