#include "capture/FrameAudio.h"
#include "capture/SoundCapture.h"
#include "compat/dshow/pulse/PulseClient.h"
#include "tests/support/PulseTestServer.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <vector>

namespace {

int inputIndex(const std::string &name)
{
    const auto inputs = sc::pulse::PulseClient::connect()->inputSources();
    for (size_t i = 0; i < inputs.size(); ++i)
        if (inputs[i].name == name)
            return int(i);
    return -1;
}

} // namespace

class TestAudioLevel : public QObject {
    Q_OBJECT
    std::unique_ptr<sc::test::PulseTestServer> server_;

private slots:
    void initTestCase() { server_ = std::make_unique<sc::test::PulseTestServer>(); }
    void cleanupTestCase() { server_.reset(); }

    void levelOfBuffer_data()
    {
        QTest::addColumn<int>("sample");
        QTest::addColumn<int>("level");
        QTest::newRow("silence") << 128 << 0;
        QTest::newRow("lowest sample") << 0 << 100;
        QTest::newRow("highest sample is one short of full scale") << 255 << 99;
        QTest::newRow("deviation 64") << 192 << 50;
        QTest::newRow("deviation -64") << 64 << 50;
        QTest::newRow("deviation 1 rounds up") << 129 << 1;
        QTest::newRow("tie 12.5 rounds to even") << 144 << 12;
        QTest::newRow("tie 37.5 rounds to even") << 176 << 38;
    }
    void levelOfBuffer()
    {
        QFETCH(int, sample);
        QFETCH(int, level);
        std::vector<uint8_t> buffer(TSoundCapture::kSampleCount, 128);
        buffer[777] = uint8_t(sample);
        QCOMPARE(TSoundCapture::LevelOfBuffer(buffer.data(), buffer.size()), level);
    }

    void sineInputReportsItsLevelOnTheMainThread()
    {
        TSoundCapture capture(nullptr);
        std::vector<int> levels;
        capture.OnLevel = [&](QObject *sender, int level) {
            QCOMPARE(sender, &capture);
            QCOMPARE(QThread::currentThread(), qApp->thread());
            levels.push_back(level);
        };
        QCOMPARE(capture.StartCapture(inputIndex("test_sine")), 0);
        QTRY_VERIFY_WITH_TIMEOUT(levels.size() >= 5, 10000);
        capture.StopCapture();
        // A sine of half amplitude deviates by about 64 of 128 at its peaks.
        for (size_t i = 1; i < levels.size(); ++i)
            QVERIFY2(levels[i] >= 45 && levels[i] <= 55, qPrintable(QString::number(levels[i])));

        const size_t seen = levels.size();
        QTest::qWait(600);
        QCOMPARE(levels.size(), seen);  // nothing arrives after a stop
    }

    void quietInputReportsZero()
    {
        TSoundCapture capture(nullptr);
        std::vector<int> levels;
        capture.OnLevel = [&](QObject *, int level) { levels.push_back(level); };
        QCOMPARE(capture.StartCapture(inputIndex("test_quiet")), 0);
        QTRY_VERIFY_WITH_TIMEOUT(levels.size() >= 3, 10000);
        for (int level : levels)
            QCOMPARE(level, 0);
    }

    void missingDeviceReportsNothingAndStopsAtOnce()
    {
        TSoundCapture capture(nullptr);
        int calls = 0;
        capture.OnLevel = [&](QObject *, int) { ++calls; };
        QVERIFY(capture.StartCapture(99) != 0);
        QVERIFY(!capture.Capturing());
        capture.StopCapture();
        QTest::qWait(300);
        QCOMPARE(calls, 0);
    }

    void serverGoneAfterStartDoesNotHangTheStop()
    {
        sc::test::PulseTestServer ownServer;  // points this process at a second daemon
        TSoundCapture capture(nullptr);
        QCOMPARE(capture.StartCapture(inputIndex("test_sine")), 0);
        ownServer.kill();
        capture.StopCapture();
        QVERIFY(!capture.Capturing());
    }

    void frameShowsLevelsUnlessMuted()
    {
        TFrameAudio frame;
        frame.OpenMicrophone(inputIndex("test_sine"));
        QVERIFY(frame.MicEnabled);
        QTRY_VERIFY_WITH_TIMEOUT(frame.Gauge1->Position() >= 45, 10000);

        frame.Muted = true;
        frame.OnCaptureLevel(frame.Capture(), 80);
        QCOMPARE(frame.Gauge1->Position(), 0);
        QTest::qWait(500);
        QCOMPARE(frame.Gauge1->Position(), 0);

        frame.OpenMicrophone(-1);
        QVERIFY(!frame.MicEnabled);
        QCOMPARE(frame.Capture(), nullptr);
    }
};

QTEST_MAIN(TestAudioLevel)
#include "tst_audiolevel.moc"
