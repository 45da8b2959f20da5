#include "core/ProgramState.h"
#include "media/CaptureControl.h"
#include "media/engine/AudioInputDevice.h"
#include "media/engine/AudioOutputDevice.h"
#include "media/engine/CameraDevice.h"
#include "media/engine/DeviceProvider.h"
#include "media/engine/TestDeviceProvider.h"
#include "media/engine/TestPatternCamera.h"
#include "media/engine/VideoEngine.h"
#include "support/TestSupport.h"
#include "ui/Program.h"
#include "ui/VideoFormatDialog.h"
#include "ui/VideoView.h"
#include "ui/frmErrorMsg.h"
#include "ui/frmMain.h"
#include "ui/frmMessage.h"
#include "ui/frmOptions.h"
#include "ui/frmSelf.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

namespace {

// The profile of a user whose data is complete, capturing from the test camera (or from
// the given driver number).
void writeProfile(const QString &dir, int driverNum = -1)
{
    if (driverNum < 0)
        driverNum = int(TestDeviceProvider().cameraNames().indexOf(TestPatternCamera::deviceName()));
    QFile ini(dir + QStringLiteral("/zelmo.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(QStringLiteral("[Personal]\r\nName=Ann\r\nEMail=ann@example.org\r\nLocation=Here\r\n"
                             "[VideoCapture]\r\nDriverNum=%1\r\n")
                  .arg(driverNum)
                  .toLatin1());
}

QString lampOf(Program &program)
{
    return program.mainWindow()->findChild<QLabel *>(QStringLiteral("imgLedCam"))->property("lamp").toString();
}

QString tagOf(frmSelf *view)
{
    return view->cmdCamSet()->property("tag").toString();
}

QList<VideoFormatDialog *> formatDialogs(Program &program)
{
    return program.mainWindow()->findChildren<VideoFormatDialog *>();
}

// A camera that either cannot be started or fails later, when told.
class TroubledCamera : public CameraDevice
{
public:
    explicit TroubledCamera(bool starts)
        : m_starts(starts)
    {
    }
    QString name() const override { return QStringLiteral("Busy Camera"); }
    QList<CameraFormat> formats() const override { return {}; }
    void setFormat(int) override {}
    bool start(QVideoSink *) override { return m_active = m_starts; }
    void stop() override { m_active = false; }
    bool isActive() const override { return m_active; }
    void breakDown() { emit failed(QStringLiteral("taken")); }

private:
    bool m_starts;
    bool m_active = false;
};

// Cameras by name: "Test Pattern" gives the pattern, "Busy" one that cannot start,
// "Flaky" one that starts and can be made to fail.
class ListedCameras : public DeviceProvider
{
public:
    explicit ListedCameras(QStringList names)
        : m_names(std::move(names))
    {
    }
    QStringList cameraNames() const override { return m_names; }
    std::unique_ptr<CameraDevice> openCamera(int index) override
    {
        if (index < 0 || index >= m_names.size())
            return nullptr;
        if (m_names.at(index) == TestPatternCamera::deviceName())
            return std::make_unique<TestPatternCamera>();
        auto camera = std::make_unique<TroubledCamera>(m_names.at(index) == QLatin1String("Flaky"));
        lastTroubled = camera.get();
        return camera;
    }
    bool hasAudioInput() const override { return false; }
    bool hasAudioOutput() const override { return false; }
    std::unique_ptr<AudioInputDevice> openAudioInput() override { return nullptr; }
    std::unique_ptr<AudioOutputDevice> openAudioOutput() override { return nullptr; }

    TroubledCamera *lastTroubled = nullptr;

private:
    QStringList m_names;
};

// A capture control with its engine and self view, without the rest of the program.
struct Rig
{
    explicit Rig(QStringList cameras, int driverNum = 0)
        : devices(std::make_shared<ListedCameras>(std::move(cameras)))
        , engine(devices, QString())
        , capture(state, engine)
        , lamps(&capture, &CaptureControl::cameraLampChanged)
        , errors(&capture, &CaptureControl::errorMessage)
    {
        state.settings.DriverNum = qint16(driverNum);
    }
    int lastLamp() const { return lamps.isEmpty() ? -1 : lamps.last().at(0).toInt(); }

    ProgramState state;
    std::shared_ptr<ListedCameras> devices;
    VideoEngine engine;
    CaptureControl capture;
    QSignalSpy lamps;
    QSignalSpy errors;
};

} // namespace

class TestCapture : public QObject
{
    Q_OBJECT

private slots:
    void testCameraRunsPausesAndResumes()
    {
        QTemporaryDir dir;
        writeProfile(dir.path());
        Program program({TestSupport::portBlock(), dir.path(), {}, true});
        program.start();
        frmSelf *view = program.selfView();
        QVERIFY(view);
        QCOMPARE(lampOf(program), QStringLiteral("imgCamOn"));
        QVERIFY(program.state().captureReady);
        QVERIFY(program.state().captureRunning);
        QCOMPARE(program.capture().currentDriverName(), TestPatternCamera::deviceName());
        QCOMPARE(tagOf(view), QStringLiteral("Pause"));
        QCOMPARE(view->windowTitle(), QStringLiteral("Self View"));

        const int first = program.videoEngine().getFrameNum();
        QTRY_VERIFY_WITH_TIMEOUT(program.videoEngine().getFrameNum() != first, 2000);

        // Shown, the self view paints the stamped pattern the camera makes.
        program.toggleSelfView();
        QVERIFY(view->isVisible());
        QVERIFY(program.videoEngine().isPreviewing());
        QTRY_VERIFY_WITH_TIMEOUT(TestPatternCamera::readStamp(view->pnlCapture()->frame()).valid, 2000);

        // Pause: the lamp goes off, no frame is delivered any more.
        QSignalSpy previews(&program.videoEngine(), &VideoEngine::previewFrame);
        QSignalSpy resumed(&program.capture(), &CaptureControl::resumed);
        view->cmdCamSet()->click();
        QCOMPARE(tagOf(view), QStringLiteral("Play"));
        QCOMPARE(view->cmdCamSet()->property("picture").toString(), QStringLiteral("imgCamPlay"));
        QCOMPARE(lampOf(program), QStringLiteral("imgCamOff"));
        QVERIFY(!program.state().captureRunning);
        previews.clear();
        const int paused = program.videoEngine().getFrameNum();
        QVERIFY(!previews.wait(300));
        QCOMPARE(program.videoEngine().getFrameNum(), paused);
        QCOMPARE(resumed.count(), 0);

        // Play: running again, the send loop is told to fetch a frame.
        view->cmdCamSet()->click();
        QCOMPARE(tagOf(view), QStringLiteral("Pause"));
        QCOMPARE(view->cmdCamSet()->property("picture").toString(), QStringLiteral("imgCamPause"));
        QCOMPARE(lampOf(program), QStringLiteral("imgCamOn"));
        QVERIFY(program.state().captureRunning);
        QCOMPARE(resumed.count(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(program.videoEngine().getFrameNum() != paused, 2000);

        // The unload at exit releases the camera.
        program.shutdown();
        QCOMPARE(program.videoEngine().connectedDriver(), -1);
    }

    void sizeCheckScalesLargeCapturesToHalf()
    {
        QTemporaryDir dir;
        writeProfile(dir.path());
        Program program({TestSupport::portBlock(), dir.path(), {}, true});
        program.start();
        frmSelf *view = program.selfView();
        program.toggleSelfView();
        QCOMPARE(view->pnlCapture()->size(), QSize(320, 240));
        QCOMPARE(view->pnlSelf()->text(), QStringLiteral("320x240"));

        QSignalSpy sizes(&program.capture(), &CaptureControl::selfViewSizeChanged);
        QVERIFY(program.videoEngine().setCaptureFormat(-1, QSize(640, 480)));
        // The size is followed at the five-second step, not before.
        QCOMPARE(view->pnlSelf()->text(), QStringLiteral("320x240"));
        program.fiveSecondMark();
        QCOMPARE(view->pnlCapture()->size(), QSize(320, 240));
        QCOMPARE(view->pnlSelf()->text(), QStringLiteral("640x480"));
        QCOMPARE(program.capture().horizontalScale(), 2.0);
        QCOMPARE(program.capture().verticalScale(), 2.0);
        QVERIFY(view->height() > 240);
        // The engine halves the preview pictures to fit.
        QTRY_COMPARE_WITH_TIMEOUT(view->pnlCapture()->frame().size(), QSize(320, 240), 2000);

        // Unchanged size: nothing to do.
        program.fiveSecondMark();
        QCOMPARE(sizes.count(), 1);

        QVERIFY(program.videoEngine().setCaptureFormat(-1, QSize(160, 120)));
        program.fiveSecondMark();
        QCOMPARE(view->pnlCapture()->size(), QSize(160, 120));
        QCOMPARE(view->pnlSelf()->text(), QStringLiteral("160x120"));
        QCOMPARE(program.capture().horizontalScale(), 1.0);
        QTRY_COMPARE_WITH_TIMEOUT(view->pnlCapture()->frame().size(), QSize(160, 120), 2000);
        QCOMPARE(sizes.count(), 2);
    }

    void unsupportedFormatOpensTheFormatDialogOnce()
    {
        QTemporaryDir dir;
        writeProfile(dir.path());
        Program program({TestSupport::portBlock(), dir.path(), {}, true});
        program.start();
        frmSelf *view = program.selfView();

        program.capture().reportUnsupportedFormat();
        QVERIFY(program.state().OpenFormatDialogAfterMessage);
        QVERIFY(!program.state().captureRunning);
        QCOMPARE(lampOf(program), QStringLiteral("imgCamOff"));
        // The self view offers to resume.
        QCOMPARE(tagOf(view), QStringLiteral("Play"));
        frmMessage *message = program.messageWindow();
        QVERIFY(message && message->isVisible());
        QCOMPARE(message->text(),
                 QStringLiteral("The video format is not correct.  Set your Video size to 160x120, 320x240, QCIF or "
                                "CIF.  The following formats are supported: 12bit YUV, Indeo Raw, 4 bit (16 greys), "
                                "6 bit (64 greys), 8 bit (256 greys), 16 bit (Thousands of Colors, RGBH) and 24 bit "
                                "(Millions of Colors, RGBT)"));
        QVERIFY(formatDialogs(program).isEmpty());

        message->findChild<QPushButton *>(QStringLiteral("cmdOK"))->click();
        QVERIFY(!message->isVisible());
        QVERIFY(!program.state().OpenFormatDialogAfterMessage);
        QCOMPARE(formatDialogs(program).size(), 1);
        VideoFormatDialog *dialog = formatDialogs(program).first();
        QVERIFY(dialog->isVisible());
        QVERIFY(!dialog->isModal());
        QCOMPARE(dialog->findChild<QLabel *>(QStringLiteral("lblDriverName"))->text(), TestPatternCamera::deviceName());
        dialog->reject();
        QTRY_VERIFY(formatDialogs(program).isEmpty());

        // A later message closes normally.
        program.showInformation(QStringLiteral("Something else."));
        message->findChild<QPushButton *>(QStringLiteral("cmdOK"))->click();
        QVERIFY(!message->isVisible());
        QVERIFY(formatDialogs(program).isEmpty());

        // Play resumes after the format was fixed.
        view->cmdCamSet()->click();
        QVERIFY(program.state().captureRunning);
        QCOMPARE(lampOf(program), QStringLiteral("imgCamOn"));
    }

    void noCameraMeansNoCapture()
    {
        // The configured driver is not there: no capture, no message.
        QTemporaryDir dir;
        writeProfile(dir.path(), 40);
        Program program({TestSupport::portBlock(), dir.path(), {}, true});
        program.start();
        QCOMPARE(lampOf(program), QStringLiteral("imgLEDCamNo"));
        QVERIFY(!program.state().captureReady);
        QVERIFY(!program.state().captureRunning);
        QVERIFY(program.errorWindow() == nullptr);
        // Neither pausing nor resuming pretends there is a camera.
        program.selfView()->cmdCamSet()->click();
        program.selfView()->cmdCamSet()->click();
        QCOMPARE(lampOf(program), QStringLiteral("imgLEDCamNo"));
        QSignalSpy sizes(&program.capture(), &CaptureControl::selfViewSizeChanged);
        program.fiveSecondMark();
        QCOMPARE(sizes.count(), 0);

        // A machine without any camera.
        Rig rig({});
        frmSelf view(rig.capture, rig.engine);
        QCOMPARE(rig.lastLamp(), int(CaptureControl::LampNone));
        QVERIFY(rig.capture.driverNames().isEmpty());
        rig.capture.chooseDriver(QStringLiteral("Anything"));
        QCOMPARE(rig.lastLamp(), int(CaptureControl::LampNone));
        QCOMPARE(rig.errors.count(), 0);
    }

    void cameraInUseIsReported()
    {
        // At start-up: the message, no frames taken, yet the lamp and the running state on.
        Rig rig({QStringLiteral("Busy")});
        rig.capture.startCapture();
        QCOMPARE(rig.errors.count(), 1);
        QCOMPARE(rig.errors.last().at(0).toString(), CaptureControl::deviceInUseText());
        QVERIFY(rig.errors.last().at(0).toString().endsWith(QStringLiteral("run ZELMO again to fix this problem.")));
        QVERIFY(!rig.state.captureReady);
        QVERIFY(rig.state.captureRunning);
        QCOMPARE(rig.lastLamp(), int(CaptureControl::LampOn));

        // A camera taken away while running: reported once, no more frames.
        Rig later({QStringLiteral("Flaky")});
        later.capture.startCapture();
        QVERIFY(later.state.captureReady);
        QCOMPARE(later.errors.count(), 0);
        later.devices->lastTroubled->breakDown();
        QVERIFY(!later.state.captureReady);
        QCOMPARE(later.errors.count(), 1);
        QCOMPARE(later.errors.last().at(0).toString(), CaptureControl::deviceInUseText());
    }

    void choosingAnotherDriver()
    {
        Rig rig({TestPatternCamera::deviceName(), QStringLiteral("Busy")});
        rig.capture.startCapture();
        QVERIFY(rig.state.captureReady);
        QCOMPARE(rig.capture.driverNames(), QStringList({TestPatternCamera::deviceName(), QStringLiteral("Busy")}));

        // The driver in use, or a name not in the list: nothing happens.
        const qsizetype lampsBefore = rig.lamps.count();
        rig.capture.chooseDriver(TestPatternCamera::deviceName());
        rig.capture.chooseDriver(QStringLiteral("Nonexistent"));
        QCOMPARE(rig.lamps.count(), lampsBefore);
        QCOMPARE(rig.state.settings.DriverNum, 0);

        rig.capture.chooseDriver(QStringLiteral("Busy"));
        QCOMPARE(rig.state.settings.DriverNum, 1);
        QCOMPARE(rig.errors.count(), 1);
        QCOMPARE(rig.errors.last().at(0).toString(), CaptureControl::deviceInUseAfterChoiceText());
        QVERIFY(rig.errors.last().at(0).toString().endsWith(QStringLiteral("Reboot your computer and run again to fix this problem.")));
        QVERIFY(!rig.state.captureReady);
        QVERIFY(rig.state.captureRunning);
        QCOMPARE(rig.lastLamp(), int(CaptureControl::LampOn));
        QCOMPARE(rig.capture.currentDriverName(), QStringLiteral("Busy Camera"));

        // Back to a working driver: frames are taken again.
        rig.capture.chooseDriver(TestPatternCamera::deviceName());
        QCOMPARE(rig.state.settings.DriverNum, 0);
        QVERIFY(rig.state.captureReady);
        QCOMPARE(rig.errors.count(), 1);
        const int first = rig.engine.getFrameNum();
        QTRY_VERIFY_WITH_TIMEOUT(rig.engine.getFrameNum() != first, 2000);

        // With one driver only, choosing does nothing.
        Rig single({TestPatternCamera::deviceName()});
        single.capture.startCapture();
        const qsizetype singleLamps = single.lamps.count();
        single.capture.chooseDriver(TestPatternCamera::deviceName());
        QCOMPARE(single.lamps.count(), singleLamps);
    }

    void selfViewHidesAndFollowsTheMainWindow()
    {
        QTemporaryDir dir;
        writeProfile(dir.path());
        Program program({TestSupport::portBlock(), dir.path(), {}, true});
        program.start();
        frmMain *main = program.mainWindow();
        frmSelf *view = program.selfView();
        main->show();
        main->move(20, 30);
        program.toggleSelfView();
        QVERIFY(main->buttonPressed(2));

        program.fiveSecondMark();
        QCOMPARE(view->pos(), QPoint(main->frameGeometry().right() + 1, main->frameGeometry().top()));

        // Moved by the user while the main window stays: left where it is.
        view->move(5, 400);
        program.fiveSecondMark();
        QCOMPARE(view->pos(), QPoint(5, 400));

        // No room on the right: to the left of the main window.
        const int screenWidth = view->screen()->availableGeometry().width();
        main->move(screenWidth - main->frameGeometry().width() - 10, 30);
        program.fiveSecondMark();
        QCOMPARE(view->frameGeometry().right() + 1, main->frameGeometry().left());
        QCOMPARE(view->y(), main->frameGeometry().top());

        // The option off: the window stays.
        program.settings().MoveAllWin = false;
        const QPoint kept = view->pos();
        main->move(40, 50);
        program.fiveSecondMark();
        QCOMPARE(view->pos(), kept);

        // The settings button shows the options window.
        view->cmdSettings()->click();
        QVERIFY(program.optionsWindow()->isVisible());

        // Closing only hides; the menu and the toolbar follow, the preview stops.
        QVERIFY(program.videoEngine().isPreviewing());
        view->close();
        QVERIFY(!view->isVisible());
        QVERIFY(program.selfView() == view);
        QVERIFY(!main->action(QStringLiteral("Menu_ViewSelf"))->isChecked());
        QVERIFY(!main->buttonPressed(2));
        QVERIFY(!program.videoEngine().isPreviewing());
        QVERIFY(program.state().captureRunning);
        program.toggleSelfView();
        QVERIFY(view->isVisible());
        QVERIFY(program.videoEngine().isPreviewing());
    }
};

QTEST_MAIN(TestCapture)
#include "tst_capture.moc"
