#include "core/Settings.h"
#include "support/Windows.h"
#include "media/devices/TestDeviceProvider.h"
#include "media/picture/TestPatternCamera.h"

#include <QScreen>
#include <QVideoFrame>
#include <QVideoSink>

namespace {

// A started program with its windows, capturing from the test camera (or from the given
// driver number).
struct Started : RunningProgram
{
    explicit Started(int driverNum = int(TestDeviceProvider().cameraNames().indexOf(TestPatternCamera::deviceName())))
        : RunningProgram(QStringLiteral("Ann"), Options{.windows = true, .start = false})
    {
        TestSupport::writeBytes(folder + QStringLiteral("/zelmo.ini"),
                                QStringLiteral("[VideoCapture]\r\nDriverNum=%1\r\n").arg(driverNum).toLatin1());
        start();
    }
    QString lamp() { return window<QLabel>("imgLedCam")->property("lamp").toString(); }
    QString playTag() { return windowOf<frmSelf>()->cmdCamSet()->property("tag").toString(); }
    QList<VideoFormatDialog *> formatDialogs() { return main()->findChildren<VideoFormatDialog *>(); }
    // The media loop's five-second step.
    void fiveSecondMark() { emit program->mediaSession().fiveSecondMark(); }
};

// The pattern camera, except that it either cannot be started or fails later, when told.
class TroubledCamera : public TestPatternCamera
{
public:
    explicit TroubledCamera(bool starts) : m_starts(starts) {}
    bool start() override { return m_starts && TestPatternCamera::start(); }
    void breakDown() { emit failed(QStringLiteral("taken")); }

private:
    bool m_starts;
};

// The test pattern, then "Busy", a camera that cannot be started, and "Flaky", one that
// starts and fails when told.
class TroubledCameras : public TestDeviceProvider
{
public:
    TroubledCameras() : TestDeviceProvider(false) {}
    QStringList cameraNames() const override { return TestDeviceProvider::cameraNames() << "Busy" << "Flaky"; }
    std::unique_ptr<CameraDevice> openCamera(int index) override
    {
        if (index != 1 && index != 2)
            return TestDeviceProvider::openCamera(index);
        auto camera = std::make_unique<TroubledCamera>(index == 2);
        lastTroubled = camera.get();
        return camera;
    }
    TroubledCamera *lastTroubled = nullptr;
};

} // namespace

class TestCapture : public QObject
{
    Q_OBJECT

private slots:
    void selfViewFollowsTheCaptureThroughPauseSizeAndFormat()
    {
        Started s;
        Program &program = *s.program;
        WindowShell &shell = *s.shell;
        frmSelf *view = s.windowOf<frmSelf>();
        VideoEngine &video = program.videoEngine();
        QCOMPARE(s.lamp(), QStringLiteral("imgCamOn"));
        QVERIFY(program.capture().isReady() && program.capture().isRunning());
        QCOMPARE(s.playTag(), QStringLiteral("Pause"));

        // Shown, the self view paints the stamped pattern the camera makes.
        shell.mainController().toggleSelfView();
        QVERIFY(view->isVisible() && video.isPreviewing());
        QTRY_VERIFY_WITH_TIMEOUT(TestPatternCamera::readStamp(view->pnlCapture()->frame()).valid, 2000);
        QCOMPARE(view->pnlCapture()->size(), QSize(320, 240));
        QCOMPARE(view->pnlSelf()->text(), QStringLiteral("320x240"));

        // Pause: the lamp goes off, no frame is delivered any more.
        QSignalSpy previews(&video, &VideoEngine::previewFrame);
        QSignalSpy resumed(&program.capture(), &CaptureControl::resumed);
        view->cmdCamSet()->click();
        QCOMPARE(s.playTag(), QStringLiteral("Play"));
        QCOMPARE(s.lamp(), QStringLiteral("imgCamOff"));
        QVERIFY(!program.capture().isRunning());
        previews.clear();
        const int paused = video.getFrameNum();
        // A frame that still reaches the sink is not taken.
        video.videoSink()->setVideoFrame(QVideoFrame(QVideoFrameFormat(QSize(320, 240),
                                                                       QVideoFrameFormat::Format_BGRX8888)));
        QCoreApplication::processEvents();
        QCOMPARE(video.getFrameNum(), paused);
        QCOMPARE(previews.count(), 0);

        // Play: running again, the send loop is told to fetch a frame.
        view->cmdCamSet()->click();
        QCOMPARE(s.playTag(), QStringLiteral("Pause"));
        QCOMPARE(s.lamp(), QStringLiteral("imgCamOn"));
        QVERIFY(program.capture().isRunning());
        QCOMPARE(resumed.count(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(video.getFrameNum() != paused, 2000);

        // A larger capture is followed at the five-second step: the caption tells the size,
        // the picture is halved to fit.
        QSignalSpy sizes(&program.capture(), &CaptureControl::selfViewSizeChanged);
        QVERIFY(video.setCaptureFormat(-1, QSize(640, 480)));
        QCOMPARE(view->pnlSelf()->text(), QStringLiteral("320x240"));
        s.fiveSecondMark();
        QCOMPARE(view->pnlCapture()->size(), QSize(320, 240));
        QCOMPARE(view->pnlSelf()->text(), QStringLiteral("640x480"));
        const quint32 shownAt = TestPatternCamera::readStamp(view->pnlCapture()->frame()).frameNumber;
        QTRY_VERIFY_WITH_TIMEOUT(TestPatternCamera::readStamp(view->pnlCapture()->frame()).frameNumber > shownAt + 1, 2000);
        QCOMPARE(view->pnlCapture()->frame().size(), QSize(320, 240));
        s.fiveSecondMark();
        QCOMPARE(sizes.count(), 1);
        QVERIFY(video.setCaptureFormat(-1, QSize(160, 120)));
        s.fiveSecondMark();
        QCOMPARE(view->pnlCapture()->size(), QSize(160, 120));
        QTRY_COMPARE_WITH_TIMEOUT(view->pnlCapture()->frame().size(), QSize(160, 120), 2000);

        // The self view sits beside the main window and follows it at the five-second step.
        frmMain *main = shell.mainWindow();
        main->show();
        main->move(20, 30);
        QVERIFY(main->buttonPressed(2));
        s.fiveSecondMark();
        QCOMPARE(view->pos(), QPoint(main->frameGeometry().right() + 1, main->frameGeometry().top()));

        // No room on the right: to the left of the main window.
        const int screenWidth = view->screen()->availableGeometry().width();
        main->move(screenWidth - main->frameGeometry().width() - 10, 30);
        s.fiveSecondMark();
        QCOMPARE(view->frameGeometry().right() + 1, main->frameGeometry().left());
        QCOMPARE(view->y(), main->frameGeometry().top());

        // The option off: the window stays.
        program.settings().MoveAllWin = false;
        const QPoint kept = view->pos();
        main->move(40, 50);
        s.fiveSecondMark();
        QCOMPARE(view->pos(), kept);

        // Closing only hides; the menu and the toolbar follow, the preview stops, capture goes on.
        view->close();
        QVERIFY(!view->isVisible());
        QVERIFY(!main->action(QStringLiteral("Menu_ViewSelf"))->isChecked());
        QVERIFY(!main->buttonPressed(2));
        QVERIFY(!video.isPreviewing());
        QVERIFY(program.capture().isRunning());
        shell.mainController().toggleSelfView();
        QVERIFY(view->isVisible() && video.isPreviewing());

        // A format frames cannot be made of pauses capture; the message, once confirmed,
        // opens the format dialog, and only that message does.
        program.capture().reportUnsupportedFormat();
        QVERIFY(!program.capture().isRunning());
        QCOMPARE(s.lamp(), QStringLiteral("imgCamOff"));
        QCOMPARE(s.playTag(), QStringLiteral("Play"));
        frmMessage *message = s.windowOf<frmMessage>();
        QVERIFY(message && message->isVisible());
        QCOMPARE(message->text(),
                 QStringLiteral("The video format is not correct.  Set your Video size to 160x120, 320x240, QCIF or "
                                "CIF.  The following formats are supported: 12bit YUV, Indeo Raw, 4 bit (16 greys), "
                                "6 bit (64 greys), 8 bit (256 greys), 16 bit (Thousands of Colors, RGBH) and 24 bit "
                                "(Millions of Colors, RGBT)"));
        QVERIFY(s.formatDialogs().isEmpty());

        control<QPushButton>(message, "cmdOK")->click();
        QVERIFY(!message->isVisible());
        QCOMPARE(s.formatDialogs().size(), 1);
        VideoFormatDialog *dialog = s.formatDialogs().first();
        QVERIFY(dialog->isVisible() && !dialog->isModal());
        QCOMPARE(shown(dialog, "lblDriverName"), TestPatternCamera::deviceName());
        dialog->reject();
        QTRY_VERIFY(s.formatDialogs().isEmpty());

        // A later message closes normally.
        shell.showInformation(QStringLiteral("Something else."));
        control<QPushButton>(message, "cmdOK")->click();
        QVERIFY(!message->isVisible());
        QVERIFY(s.formatDialogs().isEmpty());

        // The unload at exit releases the camera.
        program.shutdown();
        QCOMPARE(video.connectedDriver(), -1);
    }

    void noCameraMeansNoCapture()
    {
        // The configured driver is not there: no capture, no message.
        Started s(40);
        Program &program = *s.program;
        WindowShell &shell = *s.shell;
        QCOMPARE(s.lamp(), QStringLiteral("imgLEDCamNo"));
        QVERIFY(!program.capture().isReady() && !program.capture().isRunning());
        QVERIFY(s.windowOf<frmErrorMsg>() == nullptr);
        // Neither pausing nor resuming pretends there is a camera.
        s.windowOf<frmSelf>()->cmdCamSet()->click();
        s.windowOf<frmSelf>()->cmdCamSet()->click();
        QCOMPARE(s.lamp(), QStringLiteral("imgLEDCamNo"));
        QSignalSpy sizes(&program.capture(), &CaptureControl::selfViewSizeChanged);
        s.fiveSecondMark();
        QCOMPARE(sizes.count(), 0);
    }

    void camerasInUseAreReportedAndAnotherDriverCanBeChosen()
    {
        Settings settings;
        settings.DriverNum = 1;
        const QString pattern = TestPatternCamera::deviceName();
        auto devices = std::make_shared<TroubledCameras>();
        VideoEngine engine(devices, QString());
        CaptureControl capture(settings, engine);
        QSignalSpy lamps(&capture, &CaptureControl::cameraLampChanged);
        QSignalSpy errors(&capture, &CaptureControl::errorMessage);

        // At start-up with the self view open: the message, no frames taken, yet the lamp and
        // the running state on.
        engine.preview(true);
        capture.startCapture();
        QCOMPARE(errors.count(), 1);
        QVERIFY(errors.last().at(0).toString().endsWith(QStringLiteral("Reboot your computer and run ZELMO again to fix this problem.")));
        QVERIFY(!capture.isReady() && capture.isRunning());
        QCOMPARE(lamps.last().at(0).toInt(), int(CaptureControl::LampOn));

        // Back to a working driver: frames are taken again.
        capture.chooseDriver(pattern);
        QCOMPARE(settings.DriverNum, 0);
        QVERIFY(capture.isReady());
        const int first = engine.getFrameNum();
        QTRY_VERIFY_WITH_TIMEOUT(engine.getFrameNum() != first, 2000);

        // The driver in use, or a name not in the list: nothing happens.
        const qsizetype lampsBefore = lamps.count();
        capture.chooseDriver(pattern);
        capture.chooseDriver(QStringLiteral("Nonexistent"));
        QCOMPARE(lamps.count(), lampsBefore);
        QCOMPARE(settings.DriverNum, 0);

        // A chosen driver in use says so in its own words.
        capture.chooseDriver(QStringLiteral("Busy"));
        QCOMPARE(settings.DriverNum, 1);
        QCOMPARE(errors.count(), 2);
        QVERIFY(errors.last().at(0).toString().endsWith(QStringLiteral("Reboot your computer and run again to fix this problem.")));
        QVERIFY(!capture.isReady());
        QCOMPARE(lamps.last().at(0).toInt(), int(CaptureControl::LampOn));

        // A camera taken away while running: reported once, no more frames.
        capture.chooseDriver(QStringLiteral("Flaky"));
        QVERIFY(capture.isReady());
        QCOMPARE(errors.count(), 2);
        devices->lastTroubled->breakDown();
        QVERIFY(!capture.isReady());
        QCOMPARE(errors.count(), 3);
        QVERIFY(errors.last().at(0).toString().endsWith(QStringLiteral("run ZELMO again to fix this problem.")));
    }
};

QTEST_MAIN(TestCapture)
#include "tst_capture.moc"
