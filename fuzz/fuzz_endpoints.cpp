// endpoints.ini as the program reads it beside itself and in the user's config folder.
#include "FuzzSupport.h"
#include "project/Endpoints.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::EnsureQtApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzzsupport::WriteInput("endpoints.ini", data, size);
    TEndpoints endpoints;
    ReadEndpointsFile(QString::fromStdString(path), endpoints);
    if (endpoints.MailPort <= 0 || endpoints.MailPort >= 65536)
        __builtin_trap();
    return 0;
}
