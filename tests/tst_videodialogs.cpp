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
            QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("lblDriverName"))->text(), QStringLiteral("Test Pattern"));
            auto *formats = dialog.findChild<QListWidget *>(QStringLiteral("lstFormats"));
            auto *sizes = dialog.findChild<QComboBox *>(QStringLiteral("cboCaptureSize"));
            QVERIFY(formats && sizes);
            QCOMPARE(formats->count(), 1 + engine.driverFormats().size());
            QCOMPARE(formats->currentRow(), 0); // automatic
            QVERIFY(formats->item(3)->text().contains(QStringLiteral("640 x 480")));
            QCOMPARE(sizes->currentText(), QStringLiteral("320x240"));
            QCOMPARE(sizes->count(), 3);

            // Cancel changes nothing.
            formats->setCurrentRow(2);
            sizes->setCurrentIndex(0);
            dialog.findChild<QPushButton *>(QStringLiteral("cmdCancel"))->click();
            QCOMPARE(engine.chosenFormat(), -1);
            QCOMPARE(engine.captureSize(), QSize(320, 240));

            VideoFormatDialog again(&engine);
            again.findChild<QListWidget *>(QStringLiteral("lstFormats"))->setCurrentRow(3);
            again.findChild<QComboBox *>(QStringLiteral("cboCaptureSize"))->setCurrentIndex(2);
            again.findChild<QPushButton *>(QStringLiteral("cmdOK"))->click();
            QCOMPARE(engine.chosenFormat(), 2);
            QCOMPARE(engine.captureSize(), QSize(640, 480));
        }
        // The next run finds the choice, and the dialog shows it.
        VideoEngine engine(std::make_shared<TestDeviceProvider>(false), profile.path());
        QVERIFY(engine.driverConnect(0));
        VideoFormatDialog dialog(&engine);
        QCOMPARE(dialog.findChild<QListWidget *>(QStringLiteral("lstFormats"))->currentRow(), 3);
        QCOMPARE(dialog.findChild<QComboBox *>(QStringLiteral("cboCaptureSize"))->currentText(), QStringLiteral("640x480"));
    }

    void dialogsWithoutACameraStayHarmless()
    {
        VideoEngine engine(std::make_shared<TestDeviceProvider>(false), QString());
        VideoFormatDialog format(&engine);
        QVERIFY(!format.findChild<QListWidget *>(QStringLiteral("lstFormats"))->isEnabled());
        format.findChild<QComboBox *>(QStringLiteral("cboCaptureSize"))->setCurrentIndex(0);
        format.findChild<QPushButton *>(QStringLiteral("cmdOK"))->click();
        QCOMPARE(engine.captureSize(), QSize(160, 120));

        VideoSourceDialog source(&engine);
        QCOMPARE(source.findChild<QLabel *>(QStringLiteral("lblDriverName"))->text(),
                 QStringLiteral("No video device is connected."));
        VideoDisplayDialog display(&engine);
        display.findChild<QCheckBox *>(QStringLiteral("chkMirror"))->setChecked(true);
        display.findChild<QPushButton *>(QStringLiteral("cmdOK"))->click();
        QVERIFY(engine.previewMirror());

        VideoFormatDialog none(nullptr);
        VideoSourceDialog noSource(nullptr);
        QCOMPARE(noSource.chosenDriver(), -1);
        QVERIFY(!noSource.findChild<QPushButton *>(QStringLiteral("cmdOK"))->isEnabled());
    }

    void sourceDialogOffersTheDrivers()
    {
        VideoEngine engine(std::make_shared<TestDeviceProvider>(false), QString());
        QVERIFY(engine.driverConnect(0));
        VideoSourceDialog dialog(&engine);
        auto *box = dialog.findChild<QComboBox *>(QStringLiteral("cboSource"));
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
        auto *mirror = dialog.findChild<QCheckBox *>(QStringLiteral("chkMirror"));
        QVERIFY(!mirror->isChecked());
        mirror->setChecked(true);
        dialog.findChild<QPushButton *>(QStringLiteral("cmdOK"))->click();
        QVERIFY(engine.previewMirror());
        VideoEngine later(std::make_shared<TestDeviceProvider>(false), profile.path());
        QVERIFY(later.driverConnect(0));
        QVERIFY(VideoDisplayDialog(&later).findChild<QCheckBox *>(QStringLiteral("chkMirror"))->isChecked());
    }
};

QTEST_MAIN(TestVideoDialogs)
#include "tst_videodialogs.moc"
