#pragma once
// MD5 digests (libcrypto) of files and of data fed piece by piece.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace burner {

class TMD5 {
public:
    TMD5();
    ~TMD5();
    TMD5(const TMD5&) = delete;
    TMD5& operator=(const TMD5&) = delete;
    void Add(const void* Data, std::size_t Size);
    // The digest as 32 lower-case hex digits; the object is spent afterwards.
    std::string Hex();

private:
    struct TState;
    std::unique_ptr<TState> FState;
};

// Digest of a whole file; empty when it cannot be read. Progress is called with the bytes
// read so far; returning false from it stops the reading (empty result).
std::string FileMD5(const std::string& Path,
                    const std::function<bool(std::uint64_t)>& Progress = nullptr);

} // namespace burner
