#include "media/devices/TestDeviceProvider.h"
#include "support/Windows.h"
#include "ui/VideoDisplayDialog.h"
#include "ui/VideoSourceDialog.h"

class TestVideoDialogs : public QObject
{
    Q_OBJECT

private slots:
    // The format, source and display dialogs on one driver; the next run finds what they chose.
    void dialogsKeepTheChoicesForTheDriver()
    {
        QTemporaryDir profile;
        {
            VideoEngine engine(std::make_shared<TestDeviceProvider>(false), profile.path());
            QVERIFY(engine.driverConnect(0));
            VideoFormatDialog dialog(&engine);
            QCOMPARE(shown(&dialog, "lblDriverName"), QStringLiteral("Test Pattern"));
            auto *formats = control<QListWidget>(&dialog, "lstFormats");
            auto *sizes = control<QComboBox>(&dialog, "cboCaptureSize");
            QVERIFY(formats && sizes);
            QCOMPARE(formats->count(), 1 + engine.driverFormats().size());
            QCOMPARE(formats->currentRow(), 0); // automatic
            QVERIFY(formats->item(3)->text().contains(QStringLiteral("640 x 480")));
            QCOMPARE(sizes->currentText(), QStringLiteral("320x240"));
            QCOMPARE(sizes->count(), 3);

            // Cancel changes nothing.
            formats->setCurrentRow(2);
            sizes->setCurrentIndex(0);
            control<QPushButton>(&dialog, "cmdCancel")->click();
            QCOMPARE(engine.chosenFormat(), -1);
            QCOMPARE(engine.captureSize(), QSize(320, 240));

            VideoFormatDialog again(&engine);
            control<QListWidget>(&again, "lstFormats")->setCurrentRow(3);
            control<QComboBox>(&again, "cboCaptureSize")->setCurrentIndex(2);
            control<QPushButton>(&again, "cmdOK")->click();
            QCOMPARE(engine.chosenFormat(), 2);
            QCOMPARE(engine.captureSize(), QSize(640, 480));

            // The source dialog offers the drivers; with one there is nothing to choose.
            VideoSourceDialog source(&engine);
            auto *box = control<QComboBox>(&source, "cboSource");
            QCOMPARE(box->count(), engine.driverCount());
            QCOMPARE(box->currentText(), QStringLiteral("Test Pattern"));
            QCOMPARE(source.chosenDriver(), 0);
            QCOMPARE(box->isEnabled(), engine.driverCount() > 1);

            // The display dialog mirrors the self view only.
            VideoDisplayDialog display(&engine);
            auto *mirror = control<QCheckBox>(&display, "chkMirror");
            QVERIFY(!mirror->isChecked());
            mirror->setChecked(true);
            control<QPushButton>(&display, "cmdOK")->click();
            QVERIFY(engine.previewMirror());
        }
        VideoEngine engine(std::make_shared<TestDeviceProvider>(false), profile.path());
        QVERIFY(engine.driverConnect(0));
        VideoFormatDialog dialog(&engine);
        QCOMPARE(control<QListWidget>(&dialog, "lstFormats")->currentRow(), 3);
        QCOMPARE(control<QComboBox>(&dialog, "cboCaptureSize")->currentText(), QStringLiteral("640x480"));
        VideoDisplayDialog display(&engine);
        QVERIFY(control<QCheckBox>(&display, "chkMirror")->isChecked());
    }

    void dialogsWithoutACameraStayHarmless()
    {
        VideoEngine engine(std::make_shared<TestDeviceProvider>(false), QString());
        VideoFormatDialog format(&engine);
        QVERIFY(!control<QListWidget>(&format, "lstFormats")->isEnabled());
        control<QComboBox>(&format, "cboCaptureSize")->setCurrentIndex(0);
        control<QPushButton>(&format, "cmdOK")->click();
        QCOMPARE(engine.captureSize(), QSize(160, 120));

        VideoSourceDialog source(&engine);
        QCOMPARE(shown(&source, "lblDriverName"), QStringLiteral("No video device is connected."));
        VideoDisplayDialog display(&engine);
        control<QCheckBox>(&display, "chkMirror")->setChecked(true);
        control<QPushButton>(&display, "cmdOK")->click();
        QVERIFY(engine.previewMirror());

        VideoFormatDialog none(nullptr);
        VideoSourceDialog noSource(nullptr);
        QCOMPARE(noSource.chosenDriver(), -1);
        QVERIFY(!control<QPushButton>(&noSource, "cmdOK")->isEnabled());
    }
};

QTEST_MAIN(TestVideoDialogs)
#include "tst_videodialogs.moc"
