#include "support/BurnerImageFixtures.h"

#include "burner/DiscBurner.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sys/wait.h>

namespace imagetest {

TTempDir::TTempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "ordavine-image-XXXXXX").string();
    FPath = ::mkdtemp(tmpl.data()) ? tmpl : std::string();
}

TTempDir::~TTempDir() {
    std::error_code ec;
    if (!FPath.empty()) {
        // Test folders may hold unreadable files on purpose.
        RunCommand("chmod -R u+rwx " + Quote(FPath));
        std::filesystem::remove_all(FPath, ec);
    }
}

std::string Quote(const std::string& S) {
    std::string out = "'";
    for (char c : S) {
        if (c == '\'')
            out += "'\\''";
        else
            out.push_back(c);
    }
    return out + "'";
}

TRun RunCommand(const std::string& Command) {
    TRun r;
    FILE* p = ::popen((Command + " 2>&1").c_str(), "r");
    if (!p)
        return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        r.Output.append(buf, n);
    const int status = ::pclose(p);
    r.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

void WriteFile(const std::string& Path, const std::string& Data) {
    std::ofstream f(Path, std::ios::binary);
    f.write(Data.data(), static_cast<std::streamsize>(Data.size()));
}

void WriteFile(const std::string& Path, std::uint64_t Size, std::uint32_t Seed) {
    std::ofstream f(Path, std::ios::binary);
    std::mt19937 rng(Seed);
    std::vector<char> block(65536);
    while (Size > 0) {
        for (auto& c : block)
            c = static_cast<char>(rng());
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(Size, block.size()));
        f.write(block.data(), static_cast<std::streamsize>(n));
        Size -= n;
    }
}

std::string ReadFile(const std::string& Path) {
    std::ifstream f(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void MakeDirs(const std::string& Path) {
    std::filesystem::create_directories(Path);
}

std::string MakeVideoTS(const std::string& Parent, bool WithMenu, int Titles) {
    const std::string work = Parent + "/authoring";
    MakeDirs(work);
    std::string xmlTitles;
    for (int t = 1; t <= Titles; ++t) {
        const std::string mpg = work + "/t" + std::to_string(t) + ".mpg";
        const TRun enc =
            RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=720x576:rate=25 "
                       "-f lavfi -i sine=frequency=" +
                       std::to_string(300 + 100 * t) + " -t 2 -target pal-dvd " + Quote(mpg));
        if (enc.ExitCode != 0)
            return std::string();
        xmlTitles += "<pgc><vob file=\"" + mpg + "\"/>" +
                     (WithMenu ? "<post>call menu;</post>" : "") + "</pgc>";
    }
    // The menu lives in the title set, as this program authors it; the video manager then has
    // no menu of its own and dvdauthor leaves a gap before the title set.
    const std::string out = Parent + "/dvd";
    std::string xml = "<dvdauthor dest=\"" + out + "\"><vmgm/><titleset>";
    if (WithMenu)
        xml += "<menus><video format=\"pal\"/><pgc entry=\"root\"><vob file=\"" + work +
               "/t1.mpg\"/><post>jump title 1;</post></pgc></menus>";
    xml += "<titles><video format=\"pal\"/>" + xmlTitles + "</titles></titleset></dvdauthor>";
    WriteFile(work + "/dvd.xml", xml);
    const TRun author = RunCommand("VIDEO_FORMAT=PAL dvdauthor -x " + Quote(work + "/dvd.xml"));
    if (author.ExitCode != 0)
        return std::string();
    return out + "/VIDEO_TS";
}

std::string SharedVideoTS(bool WithMenu) {
    static std::mutex m;
    static TTempDir dir; // authored once per test process
    static std::string plain, menu;
    std::lock_guard lock(m);
    std::string& slot = WithMenu ? menu : plain;
    if (slot.empty())
        slot = MakeVideoTS(dir / (WithMenu ? "menu" : "plain"), WithMenu);
    return slot;
}

bool BuildImage(burner::TDiscBurner& Burner, const std::string& ImagePath, std::string* Error) {
    std::mutex m;
    std::condition_variable cv;
    bool done = false, failed = false;
    Burner.OnWriteDone = [&](burner::TDiscBurner*, std::uint8_t, bool WriteFailed) {
        std::lock_guard lock(m);
        done = true;
        failed = WriteFailed;
        cv.notify_all();
    };
    Burner.Prepare();
    const bool started = Burner.BuildISOImage(ImagePath);
    if (started) {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return done; });
    }
    Burner.WaitIdle();
    Burner.OnWriteDone = nullptr;
    if (Error)
        *Error = (started && !failed) ? std::string() : Burner.ErrorString();
    return started && !failed;
}

const char* Python() {
    return "/usr/bin/python3";
}

} // namespace imagetest
