#include "media/engine/TestDeviceProvider.h"
#include "support/Windows.h"
#include "ui/VideoDisplayDialog.h"
#include "ui/VideoSourceDialog.h"

class TestVideoDialogs : public QObject
{
    Q_OBJECT

private slots:
    void formatDialogKeepsTheChoiceForTheDriver()
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
        }
        // The next run finds the choice, and the dialog shows it.
        VideoEngine engine(std::make_shared<TestDeviceProvider>(false), profile.path());
        QVERIFY(engine.driverConnect(0));
        VideoFormatDialog dialog(&engine);
        QCOMPARE(control<QListWidget>(&dialog, "lstFormats")->currentRow(), 3);
        QCOMPARE(control<QComboBox>(&dialog, "cboCaptureSize")->currentText(), QStringLiteral("640x480"));
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

    void sourceDialogOffersTheDrivers()
    {
        VideoEngine engine(std::make_shared<TestDeviceProvider>(false), QString());
        QVERIFY(engine.driverConnect(0));
        VideoSourceDialog dialog(&engine);
        auto *box = control<QComboBox>(&dialog, "cboSource");
        QCOMPARE(box->count(), engine.driverCount());
        QCOMPARE(box->currentText(), QStringLiteral("Test Pattern"));
        QCOMPARE(dialog.chosenDriver(), 0);
        // With one driver there is nothing to choose.
        QCOMPARE(box->isEnabled(), engine.driverCount() > 1);
    }

    void displayDialogMirrorsTheSelfViewOnly()
    {
        QTemporaryDir profile;
        VideoEngine engine(std::make_shared<TestDeviceProvider>(false), profile.path());
        QVERIFY(engine.driverConnect(0));
        VideoDisplayDialog dialog(&engine);
        auto *mirror = control<QCheckBox>(&dialog, "chkMirror");
        QVERIFY(!mirror->isChecked());
        mirror->setChecked(true);
        control<QPushButton>(&dialog, "cmdOK")->click();
        QVERIFY(engine.previewMirror());
        VideoEngine later(std::make_shared<TestDeviceProvider>(false), profile.path());
        QVERIFY(later.driverConnect(0));
        VideoDisplayDialog again(&later);
        QVERIFY(control<QCheckBox>(&again, "chkMirror")->isChecked());
    }
};

QTEST_MAIN(TestVideoDialogs)
#include "tst_videodialogs.moc"
