// Builds the image of one generated 2 GB tree (a small authored VIDEO_TS folder beside large data
// files) with our engine and with genisoimage -dvd-video -udf, and copies the same files with a
// plain copy, all on the same disk. Prints the wall-time ratio, peak memory, and our throughput
// against the copy's.
//   ./build/bench/image [work folder]      (default: a folder under /tmp)
#include "burner/DiscBurner.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t DataFileBytes = 500ull << 20;
constexpr int DataFiles = 4;

bool Shell(const std::string& Command) {
    return std::system(Command.c_str()) == 0;
}

void WriteData(const std::string& Path, std::uint64_t Bytes, std::uint64_t Seed) {
    FILE* f = std::fopen(Path.c_str(), "wb");
    std::vector<std::uint64_t> block(1 << 17);
    std::uint64_t x = Seed * 0x9E3779B97F4A7C15ull + 1;
    for (std::uint64_t done = 0; done < Bytes; done += block.size() * 8) {
        for (auto& v : block) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            v = x;
        }
        std::fwrite(block.data(), 8, block.size(), f);
    }
    std::fclose(f);
}

struct TResult {
    double Seconds = 0;
    long PeakKB = 0;
    bool Ok = false;
};

// Runs Work in a child process and measures its wall time and peak resident memory.
template <typename F> TResult Measure(F Work) {
    Shell("sync");
    // Cold caches when the system lets us; otherwise every run reads from the same warm cache.
    if (FILE* f = std::fopen("/proc/sys/vm/drop_caches", "w")) {
        std::fputs("3", f);
        std::fclose(f);
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0)
        _exit(Work() ? 0 : 1);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    TResult r;
    r.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.PeakKB = usage.ru_maxrss;
    r.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return r;
}

bool Exec(const std::vector<std::string>& Args) {
    std::vector<char*> argv;
    for (const auto& a : Args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool BuildOurs(const std::string& Root, const std::string& Image) {
    burner::TDiscBurner b;
    b.SetUDFBridge(true);
    if (!b.CreateDir("\\", "AUDIO_TS") || !b.CreateDir("\\", "VIDEO_TS") ||
        !b.InsertDir("\\VIDEO_TS", Root + "/VIDEO_TS", "*.*", true, false) ||
        !b.CreateDir("\\", "DATA") || !b.InsertDir("\\DATA", Root + "/DATA", "*.*", true, false))
        return false;
    b.SetVolumeID("BENCH");
    std::mutex m;
    std::condition_variable cv;
    bool done = false, failed = true;
    b.OnWriteDone = [&](burner::TDiscBurner*, std::uint8_t, bool WriteFailed) {
        std::lock_guard lock(m);
        done = true;
        failed = WriteFailed;
        cv.notify_all();
    };
    b.Prepare();
    if (!b.BuildISOImage(Image)) {
        std::fprintf(stderr, "BuildISOImage: %s\n", b.ErrorString().c_str());
        return false;
    }
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return done; });
    return !failed;
}

// A plain copy: every file read once and written into one output file, 1 MB at a time.
bool PlainCopy(const std::string& Root, const std::string& Out) {
    const int out = ::open(Out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0)
        return false;
    std::vector<char> buf(1 << 20);
    for (const auto& e : fs::recursive_directory_iterator(Root)) {
        if (!e.is_regular_file())
            continue;
        const int in = ::open(e.path().c_str(), O_RDONLY);
        ssize_t n;
        while ((n = ::read(in, buf.data(), buf.size())) > 0)
            if (::write(out, buf.data(), static_cast<size_t>(n)) != n)
                return false;
        ::close(in);
    }
    return ::close(out) == 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string work =
        argc > 1 ? argv[1] : (fs::temp_directory_path() / "ordavine-bench-image").string();
    const std::string root = work + "/tree";
    fs::remove_all(work);
    fs::create_directories(root + "/DATA");
    fs::create_directories(root + "/AUDIO_TS");
    std::printf("generating the tree in %s\n", work.c_str());
    if (!Shell(
            "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i sine "
            "-t 4 -target pal-dvd " +
            work + "/t.mpg") ||
        !Shell("cd " + work +
               " && VIDEO_FORMAT=PAL dvdauthor -o tree -t t.mpg >/dev/null 2>&1 && "
               "VIDEO_FORMAT=PAL dvdauthor -o tree -T >/dev/null 2>&1")) {
        std::fprintf(stderr, "could not author the VIDEO_TS folder\n");
        return 1;
    }
    for (int i = 0; i < DataFiles; ++i)
        WriteData(root + "/DATA/data" + std::to_string(i) + ".bin", DataFileBytes, i + 1);
    std::uint64_t treeBytes = 0;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file())
            treeBytes += e.file_size();

    const std::string ours = work + "/ours.iso", theirs = work + "/genisoimage.iso",
                      copy = work + "/copy.bin";
    const TResult rOurs = Measure([&] { return BuildOurs(root, ours); });
    const std::uint64_t ourBytes = fs::exists(ours) ? fs::file_size(ours) : 0;
    fs::remove(ours);
    const TResult rTheirs = Measure([&] {
        return Exec(
            {"genisoimage", "-quiet", "-dvd-video", "-udf", "-V", "BENCH", "-o", theirs, root});
    });
    const std::uint64_t theirBytes = fs::exists(theirs) ? fs::file_size(theirs) : 0;
    fs::remove(theirs);
    const TResult rCopy = Measure([&] { return PlainCopy(root, copy); });
    fs::remove(copy);
    fs::remove_all(work);
    if (!rOurs.Ok || !rTheirs.Ok || !rCopy.Ok) {
        std::fprintf(stderr, "a run failed: ours %d genisoimage %d copy %d\n", rOurs.Ok, rTheirs.Ok,
                     rCopy.Ok);
        return 1;
    }
    const double mb = 1024.0 * 1024.0;
    std::printf("tree: %.0f MB; ours: %.0f MB in %.2f s (%.0f MB/s), peak %ld MB\n", treeBytes / mb,
                ourBytes / mb, rOurs.Seconds, ourBytes / mb / rOurs.Seconds, rOurs.PeakKB / 1024);
    std::printf("genisoimage: %.0f MB in %.2f s, peak %ld MB; plain copy: %.2f s (%.0f MB/s)\n",
                theirBytes / mb, rTheirs.Seconds, rTheirs.PeakKB / 1024, rCopy.Seconds,
                treeBytes / mb / rCopy.Seconds);
    const double copyFraction = (ourBytes / rOurs.Seconds) / (treeBytes / rCopy.Seconds);
    std::printf("time_ratio=%.3f copy_fraction=%.3f peak_rss_mb=%.1f\n",
                rOurs.Seconds / rTheirs.Seconds, copyFraction, rOurs.PeakKB / 1024.0);
    return 0;
}
