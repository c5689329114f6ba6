// Writes seed inputs for the fuzz targets into <folder>/<target>/: the answers the virtual
// recorder gives to the drive session for each kind of disc, a small colour map and background
// picture, and a settings file. (scripts/fuzz.sh adds the program's own colour maps,
// endpoints.ini and tiny clips made by ffmpeg.)
#include "DriveAnswers.h"
#include "FuzzSupport.h"
#include "burner/device/VirtualRecorder.h"

#include <QColor>
#include <QImage>
#include <QPainter>

#include <cstdio>
#include <filesystem>
#include <fstream>

using namespace burner;

namespace {

void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> RecordSession(TMedium medium, bool blockDescriptor, bool unformatted,
                                   bool page30) {
    TVirtualRecorder recorder;
    recorder.SetBlockDescriptor(blockDescriptor);
    recorder.SetPage30Supported(page30);
    if (medium != mtUNKNOWN)
        recorder.InsertMedium(medium);
    if (unformatted)
        recorder.InjectUnformatted();
    fuzzdrive::TRecordingTransport recording(recorder);
    TSCSIDevice dev;
    fuzzdrive::SetUpDeviceList(dev, fuzzsupport::ScratchFolder() + "/drive", recording);
    fuzzdrive::RunDriveSession(dev);
    return recording.Stream;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <seed folder>\n", argv[0]);
        return 2;
    }
    namespace fs = std::filesystem;
    const fs::path root(argv[1]);
    for (const char* target : {"drive", "colormap", "background", "settings"})
        fs::create_directories(root / target);

    struct TCase {
        const char* Name;
        TMedium Medium;
        bool BlockDescriptor = false, Unformatted = false, Page30 = true;
    };
    const TCase cases[] = {
        {"dvd-r", mtDVDR},
        {"dvd+r", mtDVDPLUSR},
        {"dvd+r-dl", mtDVDPLUSRDL},
        {"dvd+rw", mtDVDPLUSRW},
        {"dvd-rw", mtDVDRW},
        {"dvd-ram", mtDVDRAM},
        {"bd-r", mtBDRSR},
        {"bd-re", mtBDRE},
        {"cd-r", mtCDR},
        {"no-disc", mtUNKNOWN},
        {"dvd-r-blockdesc", mtDVDR, true},
        {"dvd+rw-unformatted", mtDVDPLUSRW, false, true},
        {"dvd-r-nopage30", mtDVDR, false, false, false},
    };
    for (const TCase& c : cases)
        WriteBytes(root / "drive" / c.Name,
                   RecordSession(c.Medium, c.BlockDescriptor, c.Unformatted, c.Page30));

    fuzzsupport::EnsureQtApplication();
    QImage map(64, 48, QImage::Format_Indexed8);
    map.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 255), qRgb(0, 0, 0), qRgb(128, 128, 128)});
    map.fill(0);
    map.save(QString::fromStdString((root / "colormap/small.png").string()));
    // The described form: a 720 x 576 map with two colours, 22 points, two labels.
    WriteBytes(root / "colormap/described",
               {0xCF, 0x02, 0x3F, 0x02, 2,   64 + 22, 0xFF, 0xFF, 0xFF, 0xFF,
                0xFF, 0x00, 0x00, 0xFF, 'H', 'o',     'l',  'i',  'd',  'a',
                'y',  '\n', 'T',  'i',  't', 'l',     'e',  ' ',  '2'});
    QImage picture(96, 64, QImage::Format_RGB32);
    picture.fill(QColor(20, 40, 120));
    {
        QPainter p(&picture);
        p.fillRect(10, 10, 40, 20, Qt::yellow);
    }
    picture.save(QString::fromStdString((root / "background/small.png").string()));
    picture.save(QString::fromStdString((root / "background/small.jpg").string()), "JPG", 60);
    picture.save(QString::fromStdString((root / "background/small.bmp").string()));
    std::ofstream(root / "settings/Ordavine.conf")
        << "[General]\nOutputPath=/tmp/Ordavine/Output\nOpenVideoDialogPath=/tmp\n"
           "ScreenShotsPath=/tmp/Ordavine/Snapshots\n";
    return 0;
}
