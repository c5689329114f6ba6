#include "project/VideoFile.h"

QString FormatDuration(int64_t microseconds) {
    const int64_t s = microseconds / 1000000;
    return QString::asprintf("%.2lld:%.2lld:%.2lld", static_cast<long long>(s / 3600),
                             static_cast<long long>((s / 60) % 60), static_cast<long long>(s % 60));
}
