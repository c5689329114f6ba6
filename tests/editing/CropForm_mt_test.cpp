// The crop dialog's frame hook runs on the player's decoding thread while the user moves the
// handles on the GUI thread: every outline it draws must come from one pair of handles.
#include "editing/CropForm.h"
#include "support/PlayerClips.h"

#include <QCoreApplication>
#include <QSignalBlocker>
#include <QSpinBox>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace {

// Bounding box of the white pixels of a frame.
QRect WhiteBox(const QImage& img) {
    int l = img.width(), t = img.height(), r = -1, b = -1;
    for (int y = 0; y < img.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < img.width(); ++x)
            if ((line[x] & 0xffffff) == 0xffffff) {
                l = std::min(l, x);
                t = std::min(t, y);
                r = std::max(r, x);
                b = std::max(b, y);
            }
    }
    return r < 0 ? QRect() : QRect(QPoint(l, t), QPoint(r, b));
}

QImage BlackFrame() {
    QImage img(320, 240, QImage::Format_RGB32);
    img.fill(Qt::black);
    return img;
}

TEST(CropFormThreads, HookDrawsOneConsistentPairOfHandlesWhileTheyMove) {
    TVideoFiles files(1);
    TCropForm form(files, [] { return 0; });
    form.Sinks.ReportError = [](const QString& m, const QString&) {
        ADD_FAILURE() << m.toStdString();
    };

    // A first frame loads the fields from the title.
    form.ResetButtonClick();
    QImage first = BlackFrame();
    bool update = true;
    form.FFPlayer1VideoHook(first, 0, update);
    ASSERT_TRUE(PlayerClips::WaitFor([&] { return form.FieldsLoaded(); }));

    auto setRect = [&](int l, int t, int w, int h) {
        {
            const QSignalBlocker b1(form.edLeft), b2(form.edTop), b3(form.edWidth),
                b4(form.edHeight);
            form.edLeft->setValue(l);
            form.edTop->setValue(t);
            form.edWidth->setValue(w);
            form.edHeight->setValue(h);
        }
        form.PlaceHandlesFromFields();
    };
    auto boxNow = [&] {
        QImage img = BlackFrame();
        bool u = true;
        form.FFPlayer1VideoHook(img, 0, u);
        return WhiteBox(img);
    };
    setRect(20, 20, 100, 80);
    const QRect boxA = boxNow();
    setRect(150, 100, 150, 120);
    const QRect boxB = boxNow();
    ASSERT_FALSE(boxA.isNull());
    ASSERT_NE(boxA, boxB);

    std::atomic<bool> done{false};
    std::atomic<int> frames{0}, torn{0};
    std::thread decoder([&] {
        while (!done.load()) {
            QImage img = BlackFrame();
            bool u = true;
            form.FFPlayer1VideoHook(img, 0, u);
            const QRect box = WhiteBox(img);
            if (box != boxA && box != boxB)
                ++torn;
            ++frames;
        }
    });
    for (int i = 0; i < 400 || frames.load() < 50; ++i) {
        if (i % 2)
            setRect(20, 20, 100, 80);
        else
            setRect(150, 100, 150, 120);
        QCoreApplication::processEvents();
        if (i > 20000)
            break;
    }
    done = true;
    decoder.join();
    EXPECT_GT(frames.load(), 0);
    EXPECT_EQ(torn.load(), 0);
}

} // namespace
