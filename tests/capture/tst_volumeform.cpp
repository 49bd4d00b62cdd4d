#include "capture/VolumeForm.h"

#include <QLabel>
#include <QTest>

class TestVolumeForm : public QObject {
    Q_OBJECT

private slots:
    void setVolumePlacesTheKnob_data()
    {
        QTest::addColumn<int>("percent");
        QTest::addColumn<int>("knobTop");
        QTest::newRow("95") << 95 << 8;
        QTest::newRow("50 (53.5 rounds to even)") << 50 << 57;
        QTest::newRow("100") << 100 << 3;
        QTest::newRow("0") << 0 << 110;
    }
    void setVolumePlacesTheKnob()
    {
        QFETCH(int, percent);
        QFETCH(int, knobTop);
        TVolumeForm form;
        int changes = 0;
        form.OnVolumeChange = [&](QObject *) { ++changes; };
        form.SetVolume(percent);
        QCOMPARE(form.TrackBtn->y(), knobTop);
        QCOMPARE(form.imgPross->y(), knobTop);
        QCOMPARE(form.Volume, percent);
        QCOMPARE(form.lbHint->text(), QString::number(percent) + "%");
        QCOMPARE(changes, 1);
    }

    void placeKnobClampsAndReports_data()
    {
        QTest::addColumn<int>("y");
        QTest::addColumn<int>("knobTop");
        QTest::addColumn<int>("percent");
        QTest::addColumn<int>("belowMinimum");
        QTest::newRow("top") << 3 << 3 << 100 << 0;
        QTest::newRow("above the top") << 1 << 3 << 100 << 0;
        QTest::newRow("bottom") << 110 << 110 << 0 << 0;
        QTest::newRow("below the bottom") << 120 << 110 << 0 << 1;
        QTest::newRow("middle") << 57 << 57 << 50 << 0;
    }
    void placeKnobClampsAndReports()
    {
        QFETCH(int, y);
        QFETCH(int, knobTop);
        QFETCH(int, percent);
        QFETCH(int, belowMinimum);
        TVolumeForm form;
        int below = 0;
        form.OnVolumeBelowMinimum = [&](QObject *) { ++below; };
        form.PlaceKnob(y);
        QCOMPARE(form.TrackBtn->y(), knobTop);
        QCOMPARE(form.Volume, percent);
        QCOMPARE(form.lbHint->text(), QString::number(percent) + "%");
        QCOMPARE(below, belowMinimum);
    }

    void layoutAtCreation()
    {
        TVolumeForm form;
        QCOMPARE(form.size(), QSize(40, 150));
        QCOMPARE(form.pnlFloor->geometry(), QRect(10, 24, 20, 122));
        QCOMPARE(form.imgBarBG->y(), 6);
        QCOMPARE(form.imgBarBG->height(), 110);
        QCOMPARE(form.imgPross->y(), 61);
        QCOMPARE(form.TrackBtn->geometry().size(), QSize(10, 10));
        QCOMPARE(form.TrackBtn->y(), 61);
    }

    void draggingTheKnobSetsTheVolume()
    {
        TVolumeForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        int changes = 0;
        form.OnVolumeChange = [&](QObject *) { ++changes; };
        form.SetVolume(50);
        changes = 0;
        // Press 4 px into the knob, move it 30 px down, release.
        QTest::mousePress(form.TrackBtn, Qt::LeftButton, {}, QPoint(5, 4));
        QMouseEvent move(QEvent::MouseMove, QPointF(5, 34), form.TrackBtn->mapToGlobal(QPointF(5, 34)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(form.TrackBtn, &move);
        QCOMPARE(form.TrackBtn->y(), 87);
        QCOMPARE(changes, 0);
        QTest::mouseRelease(form.TrackBtn, Qt::LeftButton, {}, QPoint(5, 4));
        QCOMPARE(changes, 1);
        QCOMPARE(form.Volume, 100 - qRound(84 * 100.0 / 107));
    }

    void clickOnTheBarJumpsThere()
    {
        TVolumeForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        int changes = 0;
        form.OnVolumeChange = [&](QObject *) { ++changes; };
        QTest::mouseClick(form.imgBarBG, Qt::LeftButton, {}, QPoint(2, 30));
        QCOMPARE(form.TrackBtn->y(), 30);
        QCOMPARE(form.Volume, 75);  // 100 - round(27 * 100 / 107 = 25.2)
        QCOMPARE(changes, 1);
    }

    void hidingRecordsTheMoment()
    {
        TVolumeForm form;
        QVERIFY(form.HiddenAt.isNull());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QDateTime before = QDateTime::currentDateTime();
        form.hide();
        QVERIFY(form.HiddenAt >= before);
    }
};

QTEST_MAIN(TestVolumeForm)
#include "tst_volumeform.moc"
