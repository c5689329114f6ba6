// The drive layer against a drive that answers anything: broken or hostile INQUIRY, mode pages,
// configuration, disc/track information, capacities, TOC and sense data.
#include "DriveAnswers.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzdrive::TStreamDrive drive(data, size);
    burner::TSCSIDevice dev;
    fuzzdrive::SetUpDeviceList(dev, fuzzsupport::ScratchFolder(), drive);
    fuzzdrive::RunDriveSession(dev);
    return 0;
}
