// A file added to the title list: probed by the media pack's decoder as the main window does.
// Run with -timeout so that a file the probe never finishes counts as a hang.
#include "FuzzSupport.h"
#include "media/FFDecoder.h"
#include "project/TitleList.h"
#include "project/VideoFile.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::EnsureQtApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TFFDecoder decoder;
    const std::string path = fuzzsupport::WriteInput("clip", data, size);
    TVideoFile title;
    (void)ProbeTitle(decoder, QString::fromStdString(path), title);
    decoder.CloseFile();
    return 0;
}
