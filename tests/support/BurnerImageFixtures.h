#pragma once
// Fixtures for the burning engine's image tests: temporary folders, generated DVD-Video folders,
// building an image and waiting for it, running the readers.
#include <cstdint>
#include <string>
#include <vector>

namespace burner {
class TDiscBurner;
}

namespace imagetest {

// A temporary folder removed with its contents when the object goes.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    const std::string& Path() const { return FPath; }
    std::string operator/(const std::string& Name) const { return FPath + "/" + Name; }

private:
    std::string FPath;
};

struct TRun {
    int ExitCode = -1;
    std::string Output; // stdout and stderr together
};
// Runs a shell command line.
TRun RunCommand(const std::string& Command);
std::string Quote(const std::string& S);

void WriteFile(const std::string& Path, const std::string& Data);
void WriteFile(const std::string& Path, std::uint64_t Size, std::uint32_t Seed);
std::string ReadFile(const std::string& Path);
void MakeDirs(const std::string& Path);

// Authors a small PAL DVD-Video folder with ffmpeg and dvdauthor (2 s titles); WithMenu adds a
// root menu, which makes dvdauthor leave a gap before VTS_01_0.IFO. Returns the VIDEO_TS path
// (inside Parent), or empty on failure.
std::string MakeVideoTS(const std::string& Parent, bool WithMenu, int Titles = 1);
// A cached authored folder shared by the tests of one process (authored once).
std::string SharedVideoTS(bool WithMenu);

// Prepares the layout, builds the image and waits for the completion event. Returns whether
// the build started and reported success.
bool BuildImage(burner::TDiscBurner& Burner, const std::string& ImagePath,
                std::string* Error = nullptr);

const char* Python();

} // namespace imagetest
