#pragma once
// Helpers for the drive-side tests: a temporary folder, and a device list whose only drive is
// the virtual recorder (the drive scan looks at an empty folder, never at the machine).
#include "burner/device/SCSILib.h"
#include "burner/device/VirtualRecorder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace devtest {

class TTempDir {
public:
    TTempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "ordavine-dev-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        FPath = pattern;
    }
    ~TTempDir() {
        std::error_code ec;
        std::filesystem::remove_all(FPath, ec);
    }
    const std::filesystem::path& Path() const { return FPath; }
    std::string operator/(const std::string& name) const { return (FPath / name).string(); }

private:
    std::filesystem::path FPath;
};

// A selected virtual recorder holding a blank disc of the given kind.
struct TVirtualDrive {
    TTempDir Dir;
    burner::TSCSIDevice Dev;
    std::shared_ptr<burner::TVirtualRecorder> Rec;

    explicit TVirtualDrive(burner::TMedium medium = burner::mtDVDR, uint32_t capacity = 0,
                           bool blockDescriptor = false) {
        std::filesystem::create_directories(Dir / "sys");
        Dev.SetDriveScanFolders(Dir / "sys", Dir / "dev");
        Rec = Dev.VirtualRecorder();
        Rec->SetImageFolder(Dir.Path().string());
        Rec->SetBlockDescriptor(blockDescriptor);
        Rec->InsertMedium(medium, capacity);
        EXPECT_TRUE(Dev.InitializeASPI(false, "", ""));
        EXPECT_TRUE(Dev.SelectDevice(0));
        Rec->ClearCommands();
    }
    burner::TRecordedCommand Last() const {
        const auto commands = Rec->Commands();
        return commands.empty() ? burner::TRecordedCommand{} : commands.back();
    }
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::vector<std::string> SplitCrLf(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2)
        lines.push_back(text.substr(start, at - start));
    if (start < text.size())
        lines.push_back(text.substr(start)); // an unterminated rest
    return lines;
}

} // namespace devtest
