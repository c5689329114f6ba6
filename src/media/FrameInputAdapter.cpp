#include "media/FrameInputAdapter.h"

#include <QMetaObject>
#include <QRegularExpression>
#include <QThread>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstring>
#include <unordered_map>

namespace {

// The live adapters by identity. An adapter removes itself in its destructor under the same lock,
// so an adapter found while the lock is held is alive until the lock is released.
std::mutex gRegistryLock;
std::unordered_map<int64_t, TFrameInputAdapter*> gRegistry; // guarded by gRegistryLock
std::atomic<int64_t> gNextIdentity{1};
std::atomic<bool> gFormatRegistered{false};

struct TFrameRequest {
    std::mutex Lock;
    std::condition_variable Answered;
    bool Done = false;  // guarded by Lock
    int32_t Result = -1; // guarded by Lock
    std::vector<uint8_t> Pixels; // RGB rows, guarded by Lock
};

void PaintFrame(TFrameInputAdapter* adapter, const TInputFrameInfo& info, TFrameRequest& request) {
    QImage picture(info.Width, info.Height, QImage::Format_RGB888);
    picture.fill(Qt::black);
    int32_t result = -1;
    if (adapter->OnReadFrameCanvas) {
        QPainter canvas(&picture);
        canvas.setClipRect(0, 0, info.Width, info.Height);
        try {
            result = adapter->OnReadFrameCanvas(adapter, canvas, info);
        } catch (...) {
            // A handler that throws ends the input; the exception must not cross the event loop.
            result = -1;
        }
    }
    // A deep copy crosses the threads, never a shared picture.
    std::vector<uint8_t> pixels(size_t(info.Width) * info.Height * 3);
    for (int y = 0; y < info.Height; ++y)
        memcpy(&pixels[size_t(y) * info.Width * 3], picture.constScanLine(y), size_t(info.Width) * 3);
    std::lock_guard lock(request.Lock);
    request.Pixels = std::move(pixels);
    request.Result = result;
    request.Done = true;
    request.Answered.notify_all();
}

} // namespace

TFrameInputAdapter::TFrameInputAdapter(QObject* parent) : QObject(parent), FIdentity(gNextIdentity++) {
    std::lock_guard lock(gRegistryLock);
    gRegistry[FIdentity] = this;
}

TFrameInputAdapter::~TFrameInputAdapter() {
    std::lock_guard lock(gRegistryLock);
    gRegistry.erase(FIdentity);
}

void RegisterFrameInputFormat() {
    gFormatRegistered = true;
}

bool FrameInputFormatRegistered() {
    return gFormatRegistered;
}

QString FrameInputName(const TFrameInputAdapter& adapter, int rateNum, int rateDen, int width, int height,
                       int bitsPerPixel) {
    return QStringLiteral("a=%1;r=%2/%3;s=%4*%5;bpp=%6;t=Canvas")
        .arg(adapter.Identity())
        .arg(rateNum)
        .arg(rateDen)
        .arg(width)
        .arg(height)
        .arg(bitsPerPixel);
}

bool ParseFrameInputName(const QString& name, TFrameInputDesc* desc, QString* errMsg) {
    auto fail = [&](const QString& why) {
        if (errMsg)
            *errMsg = QStringLiteral("Invalid frame input \"%1\": %2").arg(name, why);
        return false;
    };
    TFrameInputDesc result;
    bool haveAdapter = false, haveRate = false, haveSize = false;
    const QStringList parts = name.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        const int eq = part.indexOf(QLatin1Char('='));
        if (eq <= 0)
            return fail(QStringLiteral("\"%1\" is not a key=value pair").arg(part));
        const QString key = part.left(eq).trimmed().toLower();
        const QString value = part.mid(eq + 1).trimmed();
        bool ok = true;
        if (key == QLatin1String("a")) {
            result.Adapter = value.toLongLong(&ok);
            haveAdapter = ok;
        } else if (key == QLatin1String("r")) {
            static const QRegularExpression re(QStringLiteral("^(\\d+)(?:/(\\d+))?$"));
            const auto m = re.match(value);
            ok = m.hasMatch();
            if (ok) {
                result.RateNum = m.captured(1).toInt(&ok);
                result.RateDen = m.captured(2).isEmpty() ? 1 : m.captured(2).toInt();
                ok = ok && result.RateNum > 0 && result.RateDen > 0 && result.RateNum <= 1000 * result.RateDen;
            }
            haveRate = ok;
        } else if (key == QLatin1String("s")) {
            static const QRegularExpression re(QStringLiteral("^(\\d+)[*x](\\d+)$"));
            const auto m = re.match(value);
            ok = m.hasMatch();
            if (ok) {
                result.Width = m.captured(1).toInt();
                result.Height = m.captured(2).toInt();
                ok = result.Width >= 16 && result.Height >= 16 && result.Width <= 4096 && result.Height <= 4096;
            }
            haveSize = ok;
        } else if (key == QLatin1String("bpp")) {
            result.BitsPerPixel = value.toInt(&ok);
            ok = ok && (result.BitsPerPixel == 24 || result.BitsPerPixel == 32);
        } else if (key == QLatin1String("t")) {
            ok = value.compare(QLatin1String("Canvas"), Qt::CaseInsensitive) == 0;
        } else {
            return fail(QStringLiteral("unknown key \"%1\"").arg(key));
        }
        if (!ok)
            return fail(QStringLiteral("bad value \"%1\" for \"%2\"").arg(value, key));
    }
    if (!haveAdapter || !haveRate || !haveSize)
        return fail(QStringLiteral("the adapter, rate and size are required"));
    if (desc)
        *desc = result;
    return true;
}

bool FrameInputAdapterAlive(int64_t identity) {
    std::lock_guard lock(gRegistryLock);
    return gRegistry.count(identity) != 0;
}

TFrameRequestResult RequestInputFrame(int64_t identity, const TInputFrameInfo& info, std::vector<uint8_t>* picture,
                                      const std::function<bool()>& abandon) {
    auto request = std::make_shared<TFrameRequest>();
    TFrameInputAdapter* direct = nullptr;
    {
        std::lock_guard lock(gRegistryLock);
        auto it = gRegistry.find(identity);
        if (it == gRegistry.end())
            return TFrameRequestResult::AdapterGone;
        TFrameInputAdapter* adapter = it->second;
        if (adapter->thread() == QThread::currentThread()) {
            direct = adapter;
        } else {
            // The adapter is the call's context: if it is destroyed before the call runs, Qt drops
            // the call, and the wait below notices that the adapter is gone.
            QMetaObject::invokeMethod(
                adapter, [adapter, info, request] { PaintFrame(adapter, info, *request); }, Qt::QueuedConnection);
        }
    }
    if (direct) {
        PaintFrame(direct, info, *request);
    } else {
        std::unique_lock lock(request->Lock);
        while (!request->Done) {
            // system_clock: the wait then goes through pthread_cond_timedwait, which every
            // sanitizer understands (the steady-clock variant is invisible to older ones).
            request->Answered.wait_until(lock, std::chrono::system_clock::now() + std::chrono::milliseconds(50));
            if (request->Done)
                break;
            if (abandon && abandon())
                return TFrameRequestResult::Abandoned;
            lock.unlock();
            const bool alive = FrameInputAdapterAlive(identity);
            lock.lock();
            if (!alive && !request->Done)
                return TFrameRequestResult::AdapterGone;
        }
    }
    std::lock_guard lock(request->Lock);
    if (request->Result < 0)
        return TFrameRequestResult::EndOfInput;
    if (picture)
        *picture = std::move(request->Pixels);
    return TFrameRequestResult::Frame;
}
