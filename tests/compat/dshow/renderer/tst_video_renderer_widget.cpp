#include "compat/dshow/renderer/VideoRendererWidget.h"

#include <QtTest>
#include <libyuv.h>
#include <thread>

using namespace sc::renderer;

namespace {

constexpr int kFrameWidth = 64, kFrameHeight = 48;

// Left half red, right half blue, the bottom quarter green; B G R X rows, top row first.
std::vector<uint8_t> halvesBgrx() {
    std::vector<uint8_t> bgrx(kFrameWidth * kFrameHeight * 4);
    for (int y = 0; y < kFrameHeight; ++y)
        for (int x = 0; x < kFrameWidth; ++x) {
            uint8_t *p = &bgrx[(y * kFrameWidth + x) * 4];
            bool left = x < kFrameWidth / 2, bottom = y >= kFrameHeight * 3 / 4;
            p[0] = !bottom && !left ? 255 : 0;
            p[1] = bottom ? 255 : 0;
            p[2] = !bottom && left ? 255 : 0;
            p[3] = 255;
        }
    return bgrx;
}

VideoFrame halvesAs(FramePixels pixels, bool bottomUp) {
    std::vector<uint8_t> bgrx = halvesBgrx();
    VideoFrame frame;
    int bytesPerPixel = pixels == FramePixels::Yuy2 ? 2 : pixels == FramePixels::Rgb24 ? 3 : 4;
    int stride = (kFrameWidth * bytesPerPixel + 3) & ~3;
    frame.layout = {pixels, kFrameWidth, kFrameHeight, stride, bottomUp};
    frame.bytes.resize(stride * kFrameHeight);
    int height = bottomUp ? -kFrameHeight : kFrameHeight;  // libyuv writes bottom-up when negative
    switch (pixels) {
    case FramePixels::Yuy2:
        libyuv::ARGBToYUY2(bgrx.data(), kFrameWidth * 4, frame.bytes.data(), stride, kFrameWidth, height);
        break;
    case FramePixels::Rgb24:
        libyuv::ARGBToRGB24(bgrx.data(), kFrameWidth * 4, frame.bytes.data(), stride, kFrameWidth, height);
        break;
    case FramePixels::Rgb32:
        libyuv::ARGBCopy(bgrx.data(), kFrameWidth * 4, frame.bytes.data(), stride, kFrameWidth, height);
        break;
    }
    return frame;
}

bool near(QRgb pixel, QColor expected) {
    return std::abs(qRed(pixel) - expected.red()) <= 12 && std::abs(qGreen(pixel) - expected.green()) <= 12 &&
           std::abs(qBlue(pixel) - expected.blue()) <= 12;
}

} // namespace

class tst_VideoRendererWidget : public QObject {
    Q_OBJECT
private slots:
    void showsTheFrame_data();
    void showsTheFrame();
    void streamingThreadNeverWaitsAndOnlyTheNewestFrameIsConverted();
    void windowMayCloseWhileFramesArrive();
    void rejectsFramesThatDoNotFitTheirLayout();
};

void tst_VideoRendererWidget::showsTheFrame_data() {
    QTest::addColumn<int>("pixels");
    QTest::addColumn<bool>("bottomUp");
    QTest::addColumn<bool>("keepAspect");
    // Probes across the 200x100 window: x positions and the colour expected there.
    QTest::addColumn<QList<int>>("probeX");
    QTest::addColumn<QList<QColor>>("expected");
    const QList<int> xs = {10, 50, 150, 190};
    const QList<QColor> kept = {Qt::black, Qt::red, Qt::blue, Qt::black};
    const QList<QColor> stretched = {Qt::red, Qt::red, Qt::blue, Qt::blue};
    QTest::newRow("YUY2 kept") << int(FramePixels::Yuy2) << false << true << xs << kept;
    QTest::newRow("YUY2 stretched") << int(FramePixels::Yuy2) << false << false << xs << stretched;
    QTest::newRow("RGB24 bottom-up kept") << int(FramePixels::Rgb24) << true << true << xs << kept;
    QTest::newRow("RGB32 bottom-up stretched") << int(FramePixels::Rgb32) << true << false << xs << stretched;
    QTest::newRow("RGB32 top-down kept") << int(FramePixels::Rgb32) << false << true << xs << kept;
}

void tst_VideoRendererWidget::showsTheFrame() {
    QFETCH(int, pixels);
    QFETCH(bool, bottomUp);
    QFETCH(bool, keepAspect);
    QFETCH(QList<int>, probeX);
    QFETCH(QList<QColor>, expected);

    VideoRendererWidget window;
    window.resize(200, 100);
    window.setKeepAspectRatio(keepAspect);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    VideoFrame frame = halvesAs(FramePixels(pixels), bottomUp);
    std::thread streaming([&] {
        QVERIFY(window.mailbox()->post(frame.bytes.data(), frame.bytes.size(), frame.layout));
    });
    streaming.join();
    QTRY_COMPARE(window.framesDrawn(), uint64_t(1));

    const QImage shown = window.grab().toImage();
    for (int i = 0; i < probeX.size(); ++i)
        for (int y : {5, 50, 95}) {
            // The green bottom quarter shows which way up the frame was drawn.
            QColor colour = (y == 95 && expected[i] != Qt::black) ? QColor(Qt::green) : expected[i];
            QVERIFY2(near(shown.pixel(probeX[i], y), colour),
                     qPrintable(QStringLiteral("x %1 y %2: %3").arg(probeX[i]).arg(y).arg(shown.pixel(probeX[i], y), 8, 16)));
        }
}

void tst_VideoRendererWidget::streamingThreadNeverWaitsAndOnlyTheNewestFrameIsConverted() {
    VideoRendererWidget window;
    window.resize(160, 120);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // The GUI thread handles no events while the streaming thread posts: if posting waited for
    // the window, join() would never return.
    constexpr int kFrames = 200;
    std::thread streaming([&] {
        std::vector<uint8_t> grey(kFrameWidth * kFrameHeight * 2);
        for (int i = 0; i < kFrames; ++i) {
            for (size_t b = 0; b < grey.size(); b += 2) {
                grey[b] = static_cast<uint8_t>(16 + i);  // Y rises with each frame
                grey[b + 1] = 128;
            }
            window.mailbox()->post(grey.data(), grey.size(),
                                   {FramePixels::Yuy2, kFrameWidth, kFrameHeight, kFrameWidth * 2, false});
        }
    });
    streaming.join();

    QTRY_COMPARE(window.framesDrawn(), uint64_t(1));
    QCOMPARE(window.mailbox()->framesDropped(), uint64_t(kFrames - 1));
    // The frame shown is the last one posted: Y = 16 + 199 = 215 (video level), grey 231.
    QRgb centre = window.grab().toImage().pixel(80, 60);
    QVERIFY2(std::abs(qGreen(centre) - 232) <= 3, qPrintable(QString::number(qGreen(centre))));
}

void tst_VideoRendererWidget::windowMayCloseWhileFramesArrive() {
    auto *window = new VideoRendererWidget;
    window->show();
    std::shared_ptr<VideoFrameMailbox> mailbox = window->mailbox();
    std::atomic<bool> stop{false};
    std::thread streaming([&] {
        VideoFrame frame = halvesAs(FramePixels::Yuy2, false);
        while (!stop)
            mailbox->post(frame.bytes.data(), frame.bytes.size(), frame.layout);
    });
    QTest::qWait(20);
    delete window;
    QCoreApplication::processEvents();
    const uint64_t before = mailbox->framesPosted();
    QTRY_VERIFY(mailbox->framesPosted() > before);  // the stream went on without its window
    stop = true;
    streaming.join();
}

void tst_VideoRendererWidget::rejectsFramesThatDoNotFitTheirLayout() {
    VideoFrameMailbox mailbox;
    std::vector<uint8_t> bytes(kFrameWidth * kFrameHeight * 2);
    const FrameLayout fits{FramePixels::Yuy2, kFrameWidth, kFrameHeight, kFrameWidth * 2, false};
    QVERIFY(mailbox.post(bytes.data(), bytes.size(), fits));
    FrameLayout tooShortStride = fits;
    tooShortStride.stride = kFrameWidth;
    FrameLayout oddYuy2 = fits;
    oddYuy2.width = kFrameWidth - 1;
    FrameLayout rgbNeedsMore = fits;
    rgbNeedsMore.pixels = FramePixels::Rgb24;
    rgbNeedsMore.stride = kFrameWidth * 3;
    QVERIFY(!mailbox.post(bytes.data(), bytes.size() - 1, fits));
    QVERIFY(!mailbox.post(bytes.data(), bytes.size(), tooShortStride));
    QVERIFY(!mailbox.post(bytes.data(), bytes.size(), oddYuy2));
    QVERIFY(!mailbox.post(bytes.data(), bytes.size(), rgbNeedsMore));
    QCOMPARE(mailbox.framesPosted(), uint64_t(1));
}

QTEST_MAIN(tst_VideoRendererWidget)
#include "tst_video_renderer_widget.moc"
