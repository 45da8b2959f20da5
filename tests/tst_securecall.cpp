#include "call/CallControl.h"
#include "call/ControlProtocol.h"
#include "chat/ChatSession.h"
#include "media/AudioControl.h"
#include "media/CaptureControl.h"
#include "media/CodedMediaPacket.h"
#include "media/MediaFormatChoice.h"
#include "media/MediaSession.h"
#include "media/AudioSetup.h"
#include "media/MediaStats.h"
#include "media/picture/Vp8Encoder.h"
#include "media/picture/YuvPicture.h"
#include "media/devices/TestDeviceProvider.h"
#include "media/AudioEngine.h"
#include "media/picture/TestPatternCamera.h"
#include "media/sound/TestSpeaker.h"
#include "media/VideoEngine.h"
#include "messages/MessageComposer.h"
#include "support/MessageKit.h"
#include "support/RawClient.h"
#include "support/SecureKit.h"
#include "ui/SecurityBadge.h"
#include "ui/SecurityNote.h"
#include "ui/frmCallIn.h"
#include "ui/frmConStatus.h"
#include "ui/frmMain.h"

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <complex>

// Two programs of this version call each other and leave each other messages encrypted;
// an older program (a bare socket that speaks only the plain protocol) is called, calls,
// and leaves a message with exactly the bytes of old; a relay in the middle and a changed
// key show; the setting for encrypted calls only turns plain calls away both ways.
using MessageKit::Party;
using SecureKit::MiddleRelay;
using SecureKit::OlderProgram;
using SecureKit::RecordingRelay;

namespace {

// A bound, not a time: a TLS call set up between programs in this one process is done in
// well under a second, but under the sanitizers on a machine busy with a build it was seen
// to take more than ten.
constexpr int CallMs = 30000;

// One program in a call, as its user sees it.
struct Caller : Party
{
    explicit Caller(const QString &name, bool autoAccept = false, QStringList datagramModuleFolders = {})
        : Party(name, -1, std::move(datagramModuleFolders))
    {
        Settings &s = settings();
        s.AutoAccept = autoAccept;
        s.SendWelcome = false;
    }
    using Party::call;
    void call(int port) { calls().placeCall(QStringLiteral("127.0.0.1:%1").arg(port), 2000, 0); }
    const CallSecurity::Status &security() { return program->security().call().status(); }
    SecurityBadge *badge() { return main()->securityBadge(); }
    QString badgeText() { return badge()->findChild<QLabel *>(QStringLiteral("lblShortCode"))->text(); }
    QString codecs() { return badge()->findChild<QLabel *>(QStringLiteral("lblCodecs"))->text(); }
    MediaSession &media() { return program->mediaSession(); }
    qint64 framesReceived() { return program->parts().mediaStats.totals().framesReceived; }
    // For what only the channel shows: picture and sound stay there.
    void keepMediaOnTheChannel() { media().setDatagramsAllowed(false); }
    QString lock() { return badge()->findChild<QLabel *>(QStringLiteral("imgLock"))->accessibleName(); }
    QString promptNote() { return windowOf<frmCallIn>()->securityNote()->text(); }
    bool offered() { return windowOf<frmCallIn>() && windowOf<frmCallIn>()->isVisible(); }
    void useTestCamera()
    {
        if (program->videoEngine().driverGetName() != TestPatternCamera::deviceName())
            program->capture().chooseDriver(TestPatternCamera::deviceName());
    }
    int blocksPlayed()
    {
        auto *speaker = qobject_cast<TestSpeaker *>(program->audioEngine().outputDevice());
        return speaker ? speaker->blocksWritten() : 0;
    }
    TestSpeaker *speaker() { return qobject_cast<TestSpeaker *>(program->audioEngine().outputDevice()); }
    void type(const QString &text) { QTest::keyClicks(windowOf<frmNewChat>()->txtOut(), text); }
    QString conversation() { return windowOf<frmNewChat>()->conversation(); }
    // Sends a text-only message to a base port, as a compose window does, and waits until it went.
    bool leaveMessage(int base, const QString &text)
    {
        MessageComposer c(composing());
        c.setRecipient(QStringLiteral("127.0.0.1"), base);
        c.setImageChecked(false);
        c.setAudioChecked(false);
        QSignalSpy finished(&c, &MessageComposer::finished);
        c.send(text);
        return QTest::qWaitFor([&] { return finished.count() > 0; }, 15000);
    }
};

// Both talk: ten more pictures and ten more sound blocks reach each side.
void talkAndWatch(Caller &ann, Caller &bob)
{
    ann.program->audioControl().talkPressed(Qt::RightButton);
    bob.program->audioControl().talkPressed(Qt::RightButton);
    const qint64 annFrames = ann.framesReceived();
    const qint64 bobFrames = bob.framesReceived();
    const int annBlocks = ann.blocksPlayed();
    const int bobBlocks = bob.blocksPlayed();
    QTRY_VERIFY_WITH_TIMEOUT(ann.framesReceived() >= annFrames + 10 && bob.framesReceived() >= bobFrames + 10,
                             15000);
    QTRY_VERIFY_WITH_TIMEOUT(ann.blocksPlayed() >= annBlocks + 10 && bob.blocksPlayed() >= bobBlocks + 10, 15000);
}

// The amplitude of the `hertz` part of the speaker's last second; 0 when its rate cannot
// carry that frequency at all.
double amplitudeAt(const TestSpeaker &speaker, double hertz)
{
    const int rate = speaker.rate();
    const QList<qint16> samples = speaker.recentSamples();
    if (hertz * 2 >= rate || samples.size() < rate)
        return 0;
    std::complex<double> sum;
    for (qsizetype i = samples.size() - rate; i < samples.size(); ++i)
        sum += double(samples[i]) * std::polar(1.0, -2 * M_PI * hertz * double(i) / rate);
    return 2 * std::abs(sum) / rate;
}

// Everything a recording holds that the plain protocol would show: its texts, a picture's
// start, the users' names and addresses.
QStringList readable(const QByteArray &bytes, const QStringList &names)
{
    QStringList found;
    const QRegularExpression packet(QStringLiteral("(KJP|AUD|TXT)[0-9]{5}"));
    if (packet.match(QString::fromLatin1(bytes)).hasMatch())
        found << QStringLiteral("a media packet");
    for (const char *text : {"RQC;", "RRS;", "UIF;2.5;", "MSR;", "MSB;", "MRA;<E>", "MRN;<E>", ";<E>", "BEL<E>"}) {
        if (bytes.contains(text))
            found << QString::fromLatin1(text);
    }
    if (bytes.contains(QByteArray::fromHex("ffd8ffe0")) || bytes.contains(QByteArray::fromHex("ffd8ffdb")))
        found << QStringLiteral("a picture");
    for (const QString &name : names) {
        if (bytes.contains(name.toUtf8()))
            found << name;
    }
    return found;
}

} // namespace

class TestSecureCall : public QObject
{
    Q_OBJECT

private slots:
    void anEncryptedCallShowsNothingReadableOnTheWire()
    {
        Caller ann(QStringLiteral("Annabella"));
        Caller bob(QStringLiteral("Bartholomew"), true);
        // Picture and sound stay in the recorded channel; what datagrams carry is checked
        // for clear bytes where they are made (tst_datagrammedia).
        ann.keepMediaOnTheChannel();
        bob.keepMediaOnTheChannel();
        bob.program->settings().SendWelcome = true;
        bob.program->settings().WelcomeMsg = QStringLiteral("Welcome aboard");
        // Each reaches the other only through a relay that keeps every byte, and only on the
        // encrypted port: anything plain would find nobody.
        const int toBob = TestSupport::portBlock();
        const int toAnn = TestSupport::portBlock();
        RecordingRelay bobSide({toBob + PortPlan::EncryptedOffset}, toBob - bob.port);
        RecordingRelay annSide({toAnn + PortPlan::EncryptedOffset}, toAnn - ann.port);
        ann.useTestCamera();
        bob.useTestCamera();

        ann.call(toBob);
        QTRY_VERIFY_WITH_TIMEOUT(ann.inCall() && bob.inCall(), CallMs);
        ann.program->audioControl().talkPressed(Qt::RightButton);
        bob.program->audioControl().talkPressed(Qt::RightButton);
        QTRY_VERIFY_WITH_TIMEOUT(ann.program->chat().isRealTime() && bob.program->chat().isRealTime(), CallMs);
        ann.windowOf<frmNewChat>()->show();
        bob.windowOf<frmNewChat>()->show();
        ann.type(QStringLiteral("secret plan"));
        bob.type(QStringLiteral("agreed"));
        QVERIFY(ann.leaveMessage(toBob, QStringLiteral("the first quick note")));
        QVERIFY(bob.leaveMessage(toAnn, QStringLiteral("the second quick note")));
        QTRY_VERIFY_WITH_TIMEOUT(ann.program->parts().mediaStats.totals().framesReceived >= 5
                                     && bob.program->parts().mediaStats.totals().framesReceived >= 5,
                                 15000);
        QTRY_VERIFY_WITH_TIMEOUT(ann.blocksPlayed() >= 5 && bob.blocksPlayed() >= 5, 15000);
        QTRY_VERIFY(bob.conversation().endsWith(QStringLiteral("secret plan")));
        QTRY_VERIFY(ann.conversation().contains(QStringLiteral("agreed")));
        QVERIFY(ann.conversation().contains(QStringLiteral("Welcome aboard")));
        QTRY_COMPARE(bob.messages().waitingCount(), 1);
        QTRY_COMPARE(ann.messages().waitingCount(), 1);

        // Both windows show the closed lock and the same four words.
        QVERIFY(ann.security().encrypted() && bob.security().encrypted());
        QCOMPARE(ann.security().shortCode, bob.security().shortCode);
        QCOMPARE(ann.security().shortCode.split(QLatin1Char(' ')).size(), 4);
        QVERIFY(!ann.badge()->isHidden() && !bob.badge()->isHidden());
        QCOMPARE(ann.lock(), QStringLiteral("Encrypted"));
        QCOMPARE(ann.badgeText(), ann.security().shortCode);
        QCOMPARE(bob.badgeText(), ann.security().shortCode);
        // The messages came encrypted, from keys nobody has verified yet.
        const std::optional<QuickMessage> toBobMessage = bob.messages().takeOldest();
        QCOMPARE(toBobMessage->text, QStringLiteral("the first quick note"));
        QVERIFY(toBobMessage->security.encrypted());
        QCOMPARE(SecurityService::messageText(toBobMessage->security, toBobMessage->senderStanding),
                 QStringLiteral("Encrypted, from a key not verified"));

        ann.program->calls().hangUp();
        QTRY_VERIFY(!bob.inCall() && !ann.inCall());
        QVERIFY(ann.badge()->isHidden());

        const QByteArray recorded = bobSide.bytes + annSide.bytes;
        QVERIFY2(recorded.size() > 30000, qPrintable(QString::number(recorded.size())));
        const QStringList found =
            readable(recorded, {QStringLiteral("Annabella"), QStringLiteral("Bartholomew"), QStringLiteral("Room "),
                                QStringLiteral("example.org"), QStringLiteral("secret plan"),
                                QStringLiteral("quick note"), QStringLiteral("Welcome aboard")});
        QVERIFY2(found.isEmpty(), qPrintable(found.join(QStringLiteral(", "))));
    }

    // The channel's own VP8 and Opus, as on a line that carries no datagrams.
    void twoProgramsOfThisVersionTalkInVp8AndOpus()
    {
        Caller ann(QStringLiteral("Ann"));
        Caller bob(QStringLiteral("Bob"), true);
        ann.keepMediaOnTheChannel();
        bob.keepMediaOnTheChannel();
        ann.useTestCamera();
        bob.useTestCamera();
        ann.call(bob.port);
        QTRY_VERIFY_WITH_TIMEOUT(ann.inCall() && bob.inCall(), CallMs);
        QVERIFY(ann.media().currentFormats());
        QVERIFY(bob.media().currentFormats());
        ann.program->audioControl().talkPressed(Qt::RightButton);
        bob.program->audioControl().talkPressed(Qt::RightButton);
        QTRY_VERIFY_WITH_TIMEOUT(ann.program->parts().mediaStats.totals().framesReceived >= 10
                                     && bob.program->parts().mediaStats.totals().framesReceived >= 10,
                                 15000);
        QTRY_VERIFY_WITH_TIMEOUT(ann.blocksPlayed() >= 5 && bob.blocksPlayed() >= 5, 15000);
        // The pictures are the test camera's, drawn at the size sent.
        QCOMPARE(ann.program->videoEngine().incomingImage().size(), QSize(320, 240));
        QVERIFY(TestPatternCamera::readStamp(ann.program->videoEngine().incomingImage()).valid);
        // Beside the lock: the formats and the size the picture goes at.
        QTRY_COMPARE(ann.codecs(), QStringLiteral("VP8 320×240, Opus"));
        // Shown whole over the smallest picture, not cut off beside the words.
        const QLabel *codecsLine = ann.badge()->findChild<QLabel *>(QStringLiteral("lblCodecs"));
        QVERIFY(!codecsLine->isHidden());
        QTRY_VERIFY(codecsLine->width() >= codecsLine->fontMetrics().horizontalAdvance(codecsLine->text()));
        // One key frame starts each stream; nothing was lost, so none was asked for.
        QCOMPARE(ann.media().keyFramesSent(), 1);
        QCOMPARE(bob.media().keyFramesAsked(), 0);
        ann.program->calls().hangUp();
        QTRY_VERIFY(!bob.inCall() && !ann.inCall());
        QVERIFY(!ann.media().currentFormats());
        QCOMPARE(ann.codecs(), QString());
    }

    // Between two programs of this version picture and sound move to encrypted datagrams
    // once the probe gets through, and keep coming from there; the call ends as usual.
    void twoProgramsOfThisVersionMoveToDatagrams()
    {
        Caller ann(QStringLiteral("Ann"));
        Caller bob(QStringLiteral("Bob"), true);
        ann.useTestCamera();
        bob.useTestCamera();
        ann.call(bob.port);
        QTRY_VERIFY_WITH_TIMEOUT(ann.inCall() && bob.inCall(), CallMs);
        // Nobody talks at first: the move does not wait for a voice.
        QTRY_VERIFY_WITH_TIMEOUT(ann.media().sendsOverDatagrams() && bob.media().sendsOverDatagrams(), CallMs);
        talkAndWatch(ann, bob);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(TestPatternCamera::readStamp(ann.program->videoEngine().incomingImage()).valid);
        QVERIFY(TestPatternCamera::readStamp(bob.program->videoEngine().incomingImage()).valid);
        ann.program->calls().hangUp();
        QTRY_VERIFY(!bob.inCall() && !ann.inCall());
        QVERIFY(!ann.media().sendsOverDatagrams() && !bob.media().sendsOverDatagrams());
    }

    // A program without its datagram media module offers no datagrams and its log says why;
    // the peer's offer goes unanswered, and picture and sound go on over the channel.
    void withoutTheDatagramModuleTheCallStaysOnTheChannel()
    {
        QTemporaryDir empty;
        Caller ann(QStringLiteral("Ann"), false, {empty.path()});
        Caller bob(QStringLiteral("Bob"), true);
        ann.useTestCamera();
        bob.useTestCamera();
        ann.call(bob.port);
        QTRY_VERIFY_WITH_TIMEOUT(ann.inCall() && bob.inCall(), CallMs);
        QTRY_VERIFY_WITH_TIMEOUT(!ann.log().filter(QStringLiteral("zelmo-datagrams.so was not found")).isEmpty(), CallMs);
        talkAndWatch(ann, bob);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(!ann.media().sendsOverDatagrams() && !bob.media().sendsOverDatagrams());
        ann.program->calls().hangUp();
        QTRY_VERIFY(!bob.inCall() && !ann.inCall());
    }

    void aPictureThatCannotBeDecodedAsksForAKeyFrameAndRequestsAreBounded()
    {
        Caller ann(QStringLiteral("Ann"));
        Caller bob(QStringLiteral("Bob"), true);
        ann.keepMediaOnTheChannel();
        bob.keepMediaOnTheChannel();
        ann.useTestCamera();
        ann.call(bob.port);
        QTRY_VERIFY_WITH_TIMEOUT(ann.inCall() && bob.inCall(), CallMs);
        QVERIFY(bob.media().currentFormats());
        const auto received = [&bob] { return bob.program->parts().mediaStats.totals().framesReceived; };
        QTRY_VERIFY_WITH_TIMEOUT(received() >= 5, 15000);
        QCOMPARE(ann.media().keyFramesSent(), 1);
        QCOMPARE(bob.media().keyFramesAsked(), 0);

        // A key frame damaged on the way: it claims 65535 x 65535, and the decoder has no
        // picture to build the next frames on.
        const YuvPicture picture = TestSupport::movingYuvPicture(320, 240, 0);
        QByteArray damaged = Vp8Encoder(300).encode(picture, 0).data;
        for (int i = 6; i < 10; ++i)
            damaged[i] = char(0xff);
        bob.media().receiveMediaData(CodedMediaPacket::build(CodedMediaPacket::Kind::Vp8, damaged).chopped(3), true);
        QCOMPARE(bob.media().keyFramesAsked(), 1);
        // Ann answers with a key frame, and Bob's picture moves on from it without asking
        // again.
        QTRY_VERIFY_WITH_TIMEOUT(ann.media().keyFramesSent() >= 2, 10000);
        qint64 after = received();
        QTRY_VERIFY_WITH_TIMEOUT(received() >= after + 3, 15000);
        const int asked = bob.media().keyFramesAsked();
        after = received();
        QTRY_VERIFY_WITH_TIMEOUT(received() >= after + 5, 15000);
        QCOMPARE(bob.media().keyFramesAsked(), asked);

        // A flood of requests, five before each of forty frames Ann sends, makes at most one
        // key frame a second.
        const int before = ann.media().keyFramesSent();
        const auto sent = [&ann] { return ann.program->parts().mediaStats.totals().framesSent; };
        QElapsedTimer flood;
        flood.start();
        const QByteArray ask = CodedMediaPacket::build(CodedMediaPacket::Kind::KeyFrameRequest, "1").chopped(3);
        for (int frame = 0; frame < 40; ++frame) {
            for (int k = 0; k < 5; ++k)
                ann.media().receiveMediaData(ask, true);
            const qint64 sentBefore = sent();
            QTRY_VERIFY_WITH_TIMEOUT(sent() > sentBefore, 5000);
        }
        const int made = ann.media().keyFramesSent() - before;
        QVERIFY2(made >= 1 && made <= flood.elapsed() / MediaSession::KeyFrameIntervalMs + 1,
                 qPrintable(QStringLiteral("%1 in %2 ms").arg(made).arg(flood.elapsed())));
        ann.program->calls().hangUp();
        QTRY_VERIFY(!bob.inCall() && !ann.inCall());
    }

    void thePublishedFormatsOptionOnEitherSideKeepsJpegAndGsm_data()
    {
        QTest::addColumn<bool>("callerChooses");
        QTest::newRow("the caller offers only the published formats") << true;
        QTest::newRow("the one called takes only the published formats") << false;
    }

    void thePublishedFormatsOptionOnEitherSideKeepsJpegAndGsm()
    {
        QFETCH(bool, callerChooses);
        Caller ann(QStringLiteral("Ann"));
        Caller bob(QStringLiteral("Bob"), true);
        (callerChooses ? ann : bob).program->mediaFormats().setPublishedOnly(true);
        ann.useTestCamera();
        bob.useTestCamera();
        ann.call(bob.port);
        QTRY_VERIFY_WITH_TIMEOUT(ann.inCall() && bob.inCall(), CallMs);
        QVERIFY(ann.security().encrypted());
        QVERIFY(!ann.media().currentFormats());
        QVERIFY(!bob.media().currentFormats());
        QTRY_VERIFY_WITH_TIMEOUT(ann.program->parts().mediaStats.totals().framesReceived >= 3
                                     && bob.program->parts().mediaStats.totals().framesReceived >= 3,
                                 15000);
        QCOMPARE(ann.codecs(), QString());
        QVERIFY(ann.media().sentPicture().quality > 0);
        ann.program->calls().hangUp();
        QTRY_VERIFY(!bob.inCall() && !ann.inCall());
    }

    void aHighToneReachesTheOtherSideOnlyInTodaysFormats_data()
    {
        QTest::addColumn<bool>("publishedOnly");
        QTest::newRow("two programs of this version") << false;
        QTest::newRow("only the published formats") << true;
    }

    void aHighToneReachesTheOtherSideOnlyInTodaysFormats()
    {
        QFETCH(bool, publishedOnly);
        Caller ann(QStringLiteral("Ann"));
        Caller bob(QStringLiteral("Bob"), true);
        ann.program->mediaFormats().setPublishedOnly(publishedOnly);
        // 6 kHz, above all that 8000 samples a second carry. A steady tone is what noise
        // suppression is there to take out; the echo canceller stays on.
        static_cast<TestDeviceProvider &>(ann.program->parts().devices).setMicrophoneSignal(TestMicrophone::Tone, 6000);
        ann.program->audioSetup().setNoiseSuppression(false);
        QVERIFY(ann.program->audioEngine().voiceProcessing().echoCancellation);
        ann.call(bob.port);
        QTRY_VERIFY_WITH_TIMEOUT(ann.inCall() && bob.inCall(), CallMs);
        QCOMPARE(ann.media().currentFormats(), !publishedOnly);
        ann.program->audioControl().talkPressed(Qt::RightButton);
        QTRY_VERIFY_WITH_TIMEOUT(bob.speaker() && bob.speaker()->samplesWritten() >= 2 * bob.speaker()->rate(), 15000);
        // Sent at amplitude 8000: Opus brings it within 6 dB; GSM's 8000 Hz have no room for it.
        const double heard = amplitudeAt(*bob.speaker(), 6000);
        if (publishedOnly) {
            QCOMPARE(bob.speaker()->rate(), 8000);
            QCOMPARE(ann.program->audioEngine().sampleRate(), 8000);
        } else {
            QVERIFY2(heard > 4000 && heard < 16000, qPrintable(QString::number(heard)));
        }
        ann.program->calls().hangUp();
        QTRY_VERIFY(!bob.inCall() && !ann.inCall());
        // After the call the devices are back at 8000 Hz, as GSM needs.
        QCOMPARE(ann.program->audioEngine().sampleRate(), 8000);
        QCOMPARE(bob.program->audioEngine().sampleRate(), 8000);
    }

    void anOlderProgramIsCalledCallsAndLeavesAMessageWithTheBytesOfOld()
    {
        Caller ann(QStringLiteral("Ann"), true);
        OlderProgram older;
        QSignalSpy ownConnections(&ann.program->security(), &SecurityService::handedOver);

        // Called: the request, exactly, on its control port and nowhere else.
        ann.call(older.base);
        QTRY_VERIFY(older.controlIn);
        QTRY_COMPARE(older.heard, QByteArray("RQC;Ann;Room Ann;9:05;"));
        QTRY_VERIFY(ann.windowOf<frmConStatus>() && ann.windowOf<frmConStatus>()->securityNote()->isVisible());
        QCOMPARE(ann.windowOf<frmConStatus>()->securityNote()->text(),
                 QStringLiteral("not encrypted: the other program is an older version"));
        older.controlIn->write(ControlProtocol::acceptance(QStringLiteral("Old"), QStringLiteral("Past"), QTime(9, 6)));
        QTRY_COMPARE(older.heard,
                     "RQC;Ann;Room Ann;9:05;" + ControlProtocol::userInfo(ann.program->settings().EnableRTC));
        QTRY_VERIFY(older.media.hasPendingConnections());
        QTRY_VERIFY(ann.inCall());
        QCOMPARE(ann.lock(), QStringLiteral("Not encrypted"));
        QCOMPARE(ann.badgeText(), QStringLiteral("not encrypted: the other program is an older version"));
        ann.program->calls().hangUp();
        QTRY_VERIFY(!ann.inCall());

        // Calling: the answer is exactly the one of old.
        RawClient caller(ann.port);
        QVERIFY(caller.send("RQC;Old;Past;9:07;"));
        const QByteArray &answered = caller.received;
        QTRY_VERIFY(answered.startsWith("RRS;YES;"));
        QCOMPARE(answered, ControlProtocol::acceptance(QStringLiteral("Ann"), QStringLiteral("Room Ann"), QTime(9, 5)));
        QVERIFY(ann.security().kind == CallSecurity::Status::Kind::Plain);
        QVERIFY(caller.send("UIF;2.5;True;"));
        QTRY_COMPARE(answered, ControlProtocol::acceptance(QStringLiteral("Ann"), QStringLiteral("Room Ann"),
                                                           QTime(9, 5))
                                   + "UIF;2.5;True;");
        caller.drop();

        // A message: the replies of old.
        QVERIFY(MessageKit::sendWhole(ann.messagePort(), 42, "hello from the past"));
        QTRY_COMPARE(ann.messages().waitingCount(), 1);
        const std::optional<QuickMessage> m = ann.messages().takeOldest();
        QVERIFY(!m->security.encrypted());
        QCOMPARE(SecurityService::messageText(m->security, m->senderStanding), QStringLiteral("Not encrypted"));
        QCOMPARE(ownConnections.count(), 0);
    }

    void aRelayWithItsOwnKeyShowsOtherWordsAndAChangedKeyIsFlaggedBeforeAnswering()
    {
        Caller ann(QStringLiteral("Ann"), true);
        Caller bob(QStringLiteral("Bob"));
        // A first call: both remember each other's key.
        ann.call(bob.port);
        QTRY_VERIFY_WITH_TIMEOUT(bob.offered(), CallMs);
        QCOMPARE(bob.promptNote(), QStringLiteral("Encrypted call, not verified"));
        QTest::mouseClick(bob.windowOf<frmCallIn>()->findChild<QPushButton *>(QStringLiteral("cmdCallYes")),
                          Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(ann.inCall() && bob.inCall(), CallMs);
        QCOMPARE(bob.security().standing, PeerStanding::New);
        QCOMPARE(bob.security().who, QStringLiteral("ann@example.org"));
        QTest::mouseClick(bob.badge()->findChild<QPushButton *>(QStringLiteral("cmdVerified")), Qt::LeftButton);
        QVERIFY(bob.security().verified());
        QTRY_VERIFY(bob.badgeText().endsWith(QStringLiteral("(verified)")));
        ann.program->calls().hangUp();
        QTRY_VERIFY(!bob.inCall() && !ann.inCall());

        // The same people again, now through a relay that claims to be Ann towards Bob and
        // Bob towards Ann, each time with a key of its own.
        const int relayBase = TestSupport::portBlock();
        MiddleRelay relay(QStringLiteral("Ann@example.org"), QStringLiteral("Bob@example.org"), relayBase, bob.port);
        bob.program->settings().AutoAccept = true;
        ann.call(relayBase);
        // Bob is asked, auto-accept or not, and told before he answers.
        QTRY_VERIFY_WITH_TIMEOUT(bob.offered(), CallMs);
        QVERIFY(bob.security().keyChanged());
        QVERIFY(bob.windowOf<frmCallIn>()->findChild<QPushButton *>(QStringLiteral("cmdCallYes"))->isVisible());
        QCOMPARE(bob.promptNote(), CallSecurity::keyChangedText(QStringLiteral("ann@example.org")));
        QVERIFY(bob.windowOf<frmCallIn>()->securityNote()->isVisible());
        // The warning makes the prompt larger; all of it stays on the screen.
        const QRect screen = bob.windowOf<frmCallIn>()->screen()->availableGeometry();
        const QRect prompt = bob.windowOf<frmCallIn>()->frameGeometry();
        QVERIFY2(screen.contains(prompt), qPrintable(QStringLiteral("%1,%2 %3x%4 on %5x%6")
                                                         .arg(prompt.x())
                                                         .arg(prompt.y())
                                                         .arg(prompt.width())
                                                         .arg(prompt.height())
                                                         .arg(screen.width())
                                                         .arg(screen.height())));
        QTest::mouseClick(bob.windowOf<frmCallIn>()->findChild<QPushButton *>(QStringLiteral("cmdCallYes")),
                          Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(ann.inCall() && bob.inCall(), CallMs);
        QVERIFY(ann.security().encrypted() && bob.security().encrypted());
        QVERIFY(ann.security().shortCode != bob.security().shortCode);
        QVERIFY(!bob.security().verified());
        QCOMPARE(bob.badgeText(), bob.security().shortCode);
        QVERIFY(!bob.badge()->findChild<QPushButton *>(QStringLiteral("cmdVerified"))->isHidden());
        // The relay's key towards Ann is not Bob's either: Ann's side says so too.
        QVERIFY(ann.security().keyChanged());
        QVERIFY(!relay.clearText.isEmpty());
        ann.program->calls().hangUp();
        QTRY_VERIFY(!bob.inCall() && !ann.inCall());
    }

    void aChangedKeyOfAKnownPeerIsFlaggedToTheCallerToo()
    {
        Caller ann(QStringLiteral("Ann"));
        Caller bob(QStringLiteral("Bob"), true);
        ann.call(bob.port);
        QTRY_VERIFY_WITH_TIMEOUT(ann.inCall(), CallMs);
        QCOMPARE(ann.security().standing, PeerStanding::New);
        ann.program->calls().hangUp();
        QTRY_VERIFY(!bob.inCall());
        QVERIFY(ann.program->security().knownPeers().find(QStringLiteral("bob@example.org")));

        // Bob comes back with another key: a new program in his place. It rings until Ann's
        // progress window has been read, since that window goes once the call is answered.
        Caller newBob(QStringLiteral("Bob"));
        ann.call(newBob.port);
        QTRY_VERIFY_WITH_TIMEOUT(newBob.offered(), CallMs);
        QTRY_VERIFY_WITH_TIMEOUT(ann.windowOf<frmConStatus>() && ann.security().encrypted(), CallMs);
        QVERIFY(ann.security().keyChanged());
        QCOMPARE(ann.windowOf<frmConStatus>()->securityNote()->text(),
                 CallSecurity::keyChangedText(QStringLiteral("bob@example.org")));
        newBob.calls().acceptOffered();
        QTRY_VERIFY_WITH_TIMEOUT(ann.inCall(), CallMs);
        // The words show in the warning colour, with the button to verify the new key.
        QVERIFY(ann.badge()->findChild<QLabel *>(QStringLiteral("lblShortCode"))->property("warn").toBool());
        QVERIFY(!ann.badge()->findChild<QPushButton *>(QStringLiteral("cmdVerified"))->isHidden());
        ann.program->calls().hangUp();
        QTRY_VERIFY(!ann.inCall());
        // From now on the new key is the one known, not verified.
        QCOMPARE(ann.program->security().knownPeers().check(QStringLiteral("bob@example.org"),
                                                            newBob.program->security().identity().fingerprint()),
                 KnownPeers::Seen::Same);
    }

    void onlyEncryptedCallsRefuseAPlainCallerAndPlaceNoPlainCall()
    {
        Caller ann(QStringLiteral("Ann"), true);
        ann.program->security().setOnlyEncrypted(true);

        // A plain caller hears no, the answer of old, and Ann is told.
        RawClient caller(ann.port);
        QVERIFY(caller.send("RQC;Old;Past;9:07;"));
        const QByteArray &answered = caller.received;
        QTRY_COMPARE(answered, QByteArray("RRS;NO;"));
        QVERIFY(!ann.offered());
        QTRY_VERIFY(ann.windowOf<frmMessage>() && ann.windowOf<frmMessage>()->isVisible());
        QVERIFY(ann.windowOf<frmMessage>()->text().contains(QStringLiteral("only encrypted calls are accepted")));
        QVERIFY(ann.logged(QStringLiteral("Refused a call that was not encrypted from Old, Past 127.0.0.1")));

        // A call to an older program is not placed: not a byte reaches it.
        OlderProgram older;
        ann.windowOf<frmMessage>()->hide();
        ann.call(older.base);
        QTRY_COMPARE(ann.call().ConnectState, ConnectState::CouldNotConnect);
        QVERIFY(!older.controlIn);
        QVERIFY(!older.control.hasPendingConnections());
        QTRY_VERIFY(ann.windowOf<frmMessage>()->isVisible());
        QVERIFY(ann.windowOf<frmMessage>()->text().contains(QStringLiteral("only encrypted calls are allowed")));

        // Between two programs of this version, the call goes as ever.
        Caller bob(QStringLiteral("Bob"), true);
        ann.call(bob.port);
        QTRY_VERIFY_WITH_TIMEOUT(ann.inCall() && bob.inCall(), CallMs);
        QVERIFY(ann.security().encrypted());
    }
};

QTEST_MAIN(TestSecureCall)
#include "tst_securecall.moc"
