#include "burner/Hash.h"

#include <openssl/evp.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace burner {

struct TMD5::TState {
    EVP_MD_CTX* Ctx = nullptr;
};

TMD5::TMD5() : FState(std::make_unique<TState>()) {
    FState->Ctx = EVP_MD_CTX_new();
    if (FState->Ctx)
        EVP_DigestInit_ex(FState->Ctx, EVP_md5(), nullptr);
}

TMD5::~TMD5() {
    if (FState->Ctx)
        EVP_MD_CTX_free(FState->Ctx);
}

void TMD5::Add(const void* Data, std::size_t Size) {
    if (FState->Ctx && Size > 0)
        EVP_DigestUpdate(FState->Ctx, Data, Size);
}

std::string TMD5::Hex() {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (!FState->Ctx || EVP_DigestFinal_ex(FState->Ctx, md, &n) != 1)
        return std::string();
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned i = 0; i < n; ++i) {
        out.push_back(digits[md[i] >> 4]);
        out.push_back(digits[md[i] & 15]);
    }
    return out;
}

std::string FileMD5(const std::string& Path, const std::function<bool(std::uint64_t)>& Progress) {
    const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::string();
    TMD5 md5;
    std::vector<std::uint8_t> buf(1 << 20);
    std::uint64_t total = 0;
    while (true) {
        const ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return std::string();
        }
        if (n == 0)
            break;
        md5.Add(buf.data(), static_cast<std::size_t>(n));
        total += static_cast<std::uint64_t>(n);
        if (Progress && !Progress(total)) {
            ::close(fd);
            return std::string();
        }
    }
    ::close(fd);
    return md5.Hex();
}

} // namespace burner
