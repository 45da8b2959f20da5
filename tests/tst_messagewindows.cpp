// The compose and viewer windows, driven through their controls, with two programs behind.

#include "media/AudioSendQueue.h"
#include "messages/MessageComposer.h"
#include "support/MessageKit.h"

using namespace MessageKit;

namespace {

bool hasPicture(QWidget *window)
{
    return !control<QLabel>(window, "imgThumb")->pixmap().isNull();
}

} // namespace

class TestMessageWindows : public QObject
{
    Q_OBJECT

private slots:
    void aMessageWithPictureAndSoundFromTheDirectoryToTheViewer()
    {
        Party ann(QStringLiteral("Ann"), 71);
        Party bob(QStringLiteral("Bob"), 55);
        // The directory window's Send Message opens the compose window for that user.
        emit ann.program->directory().sendMessageRequested(QStringLiteral("Bob"), QStringLiteral("Room Bob"),
                                                           QStringLiteral("127.0.0.1"), bob.port, 55);
        QPointer<frmMsgOut> out = ann.main()->findChild<frmMsgOut *>();
        QVERIFY(out && out->isVisible());
        QCOMPARE(out->windowTitle(), QStringLiteral("Send Message"));
        QCOMPARE(shown(out, "pnlUserName"), QStringLiteral("Bob"));
        QCOMPARE(shown(out, "pnlLocation"), QStringLiteral("Room Bob"));
        MessageComposer &c = out->composer();
        QCOMPARE(c.recipientPort(), bob.port);

        // The camera's first frame may come after the window: Refresh grabs it.
        QTRY_VERIFY((control<QPushButton>(out, "cmdRefresh")->click(), hasPicture(out)));
        QVERIFY(control<QCheckBox>(out, "chkImage")->isChecked());

        // A typed ";" is dropped; pasted text is taken as it is.
        auto *text = control<QPlainTextEdit>(out, "txtMessageOut");
        text->setFocus();
        QTest::keyClicks(text, QStringLiteral("See you; at noon"));
        QCOMPARE(text->toPlainText(), QStringLiteral("See you at noon"));
        text->insertPlainText(QStringLiteral(";ok"));

        // Record a little, then Play: recording stops, the clip plays, and stays whole.
        control<QPushButton>(out, "cmdRecord")->click();
        QVERIFY(c.isRecording() && control<QCheckBox>(out, "chkAudio")->isChecked());
        QTRY_VERIFY(control<QProgressBar>(out, "pgrAudioRec")->value() > 5);
        control<QPushButton>(out, "cmdPlay")->click();
        QVERIFY(!c.isRecording());
        QVERIFY(!ann->audioControl().isMicOpen() && !ann->audioControl().isMessageRecording());
        QVERIFY(ann->audioControl().isSpeakerPlaying());
        const QList<QByteArray> clip = c.clip();
        QVERIFY(clip.size() >= 5);
        const int size = int(c.picture().size()) + c.soundBytes();
        QCOMPARE(out->statusText(), QStringLiteral("MsgSize: %1Kb").arg(size / 1000));
        const QByteArray picture = c.picture();

        QSignalSpy sounds(&bob.program->parts().sounds, &SoundPlayer::playRequested);
        control<QPushButton>(out, "cmdSend")->click();
        QVERIFY(!control<QPushButton>(out, "cmdSend")->isEnabled());
        // Delivered: the compose window goes.
        QTRY_VERIFY(!out);
        QCOMPARE(sounds.count(), 1);

        frmMsgIn *in = bob.openOldest();
        QVERIFY(in && in->isVisible());
        QCOMPARE(in->windowTitle(), QStringLiteral("Incoming Message"));
        QCOMPARE(shown(in, "pnlUserName"), QStringLiteral("Ann"));
        QCOMPARE(shown(in, "pnlLocation"), QStringLiteral("Room Ann"));
        QCOMPARE(shown(in, "pnlEmail"), QStringLiteral("Ann@example.org"));
        QVERIFY(!shown(in, "pnlTime").isEmpty());
        QCOMPARE(control<QPlainTextEdit>(in, "txtMessageIn")->toPlainText(), QStringLiteral("See you at noon;ok"));
        QVERIFY(hasPicture(in));
        QCOMPARE(in->message().picture, picture);
        QCOMPARE(in->message().audioBlocks, clip);
        QVERIFY(control<QGroupBox>(in, "pnlPlayMsg")->isEnabled());
        QCOMPARE(control<QGroupBox>(in, "pnlPlayMsg")->title(), QStringLiteral("Play Audio Message"));
        control<QPushButton>(in, "cmdPlay")->click();
        QVERIFY(bob->audioControl().isSpeakerPlaying());
        QTRY_VERIFY(bob.program->audioEngine().statusAudioOut() > 0);
    }

    // The size display follows the check boxes; a recording stops by itself when the queue
    // is full.
    void theSizeDisplayFollowsTheCheckBoxesAndTheRecording()
    {
        Party ann(QStringLiteral("Ann"), 71);
        frmMsgOut *out = ann.shell->messageWindows().compose(QStringLiteral("Bob"), QStringLiteral("Oslo"),
                                                               QStringLiteral("127.0.0.1"), 2000);
        MessageComposer &c = out->composer();
        c.setPicture(QByteArray(2500, 'j'));
        QCOMPARE(out->statusText(), QStringLiteral("MsgSize: 2Kb"));
        auto *image = control<QCheckBox>(out, "chkImage");
        QVERIFY(image->isChecked() && image->isEnabled());
        image->click();
        QCOMPARE(out->statusText(), QStringLiteral("MsgSize: 0Kb"));
        image->click();
        QCOMPARE(out->statusText(), QStringLiteral("MsgSize: 2Kb"));
        // Without a recording there is no sound to tick.
        QVERIFY(!control<QCheckBox>(out, "chkAudio")->isEnabled());

        control<QPushButton>(out, "cmdRecord")->click();
        QVERIFY(c.isRecording());
        QTRY_VERIFY_WITH_TIMEOUT(!c.isRecording(), 20000);
        QCOMPARE(c.recordIndex(), MessageComposer::LastRecordIndex);
        QCOMPARE(c.clip().size(), MessageComposer::LastRecordIndex - 1);
        QCOMPARE(control<QProgressBar>(out, "pgrAudioRec")->value(), MessageComposer::LastRecordIndex);
        QVERIFY(!ann->audioControl().isMicOpen() && !ann->audioControl().isMessageRecording());
        QVERIFY(!ann->parts().audioSendQueue.hold());
        int bytes = 0;
        for (const QByteArray &block : c.clip())
            bytes += int(block.size());
        QCOMPARE(c.soundBytes(), bytes);
        // The picture counts too, the camera's once its first frame came.
        const int picture = c.imageChecked() ? int(c.picture().size()) : 0;
        QCOMPARE(out->statusText(), QStringLiteral("MsgSize: %1Kb").arg((bytes + picture) / 1000));
    }

    void theViewersButtons()
    {
        Party bob(QStringLiteral("Bob"), 55);
        // Text only, and no e-mail.
        QVERIFY(sendWhole(bob.messagePort(), 33, "plain", "Carl", ""));
        frmMsgIn *in = bob.openOldest();
        QVERIFY(in);
        QVERIFY(!hasPicture(in));
        QVERIFY(!control<QPushButton>(in, "cmdPlay")->isEnabled());
        QVERIFY(!control<QGroupBox>(in, "pnlPlayMsg")->isEnabled());
        const int pals = bob->parts().palList.count();
        control<QPushButton>(in, "cmdAddPal")->click();
        QCOMPARE(bob->parts().palList.count(), pals);
        QVERIFY(control<QPushButton>(in, "cmdAddPal")->isEnabled());

        // Reply: a compose window to the sender's address on port 2000; the viewer goes.
        QPointer<frmMsgIn> viewer(in);
        frmMsgOut *reply = bob.opens<frmMsgOut>([in] { control<QPushButton>(in, "cmdReply")->click(); });
        QTRY_VERIFY(!viewer);
        QVERIFY(reply && reply->isVisible());
        QCOMPARE(shown(reply, "pnlUserName"), QStringLiteral("Carl"));
        QCOMPARE(shown(reply, "pnlLocation"), QStringLiteral("Lab"));
        QCOMPARE(reply->composer().recipientHost(), QStringLiteral("127.0.0.1"));
        QCOMPARE(reply->composer().recipientPort(), 2000);

        // Connect: a call to the sender's address on port 2000; Add Pal with an address.
        QVERIFY(sendWhole(bob.messagePort(), 34, "call me", "Dora", "dora@x.org"));
        in = bob.openOldest();
        control<QPushButton>(in, "cmdAddPal")->click();
        QCOMPARE(bob->parts().palList.count(), pals + 1);
        QCOMPARE(bob->parts().palList.pal(pals + 1).EMail, QStringLiteral("dora@x.org"));
        QVERIFY(!control<QPushButton>(in, "cmdAddPal")->isEnabled());
        viewer = in;
        control<QPushButton>(in, "cmdConnect")->click();
        QTRY_VERIFY(!viewer);
        QCOMPARE(bob.program->parts().ippControl.remoteAddress(), QStringLiteral("127.0.0.1"));
        QCOMPARE(bob.program->parts().ippControl.remotePort(), 2000);
        bob.program->calls().cancelAttempt();
    }

    void refusingASenderTurnsAwayItsNextMessage()
    {
        Party bob(QStringLiteral("Bob"), 55);
        QVERIFY(sendWhole(bob.messagePort(), 33, "buy now", "Spam", "spam@x.org"));
        QVERIFY(sendWhole(bob.messagePort(), -1, "who am I", "Anon", "anon@x.org"));
        QTRY_COMPARE(bob.messages().waitingCount(), 2);
        frmMsgIn *in = bob.openOldest();
        QVERIFY(in);
        auto *refuse = control<QCheckBox>(in, "chkRefuse");
        QCOMPARE(refuse->text(), QStringLiteral("Refuse Future Messages from this Person"));
        refuse->click();
        control<QPushButton>(in, "cmdClose")->click();
        QVERIFY(bob->parts().refuseList.isRefused(33));
        const QByteArray file = TestSupport::readBytes(bob.dir.filePath(QStringLiteral("refuse.dat")));
        QCOMPARE(file, QByteArray(" 33 \r\nSpam\r\nspam@x.org\r\n"));

        RawClient again(bob.messagePort());
        QTRY_VERIFY(again.connected());
        again.send("MSR;33;<E>");
        QTRY_COMPARE(again.received, QByteArray("MRD;<E>"));

        // A sender without a user number cannot be refused: that would refuse everyone
        // without one.
        in = bob.openOldest();
        QVERIFY(in);
        QVERIFY(!control<QCheckBox>(in, "chkRefuse")->isEnabled());
        in->close();
        QCOMPARE(bob->parts().refuseList.count(), 1);
    }

    void sendingThatCannotStartKeepsTheWindow()
    {
        Party ann(QStringLiteral("Ann"), 71);
        // Nobody listens there.
        const int deadPort = TestSupport::portBlock(4);
        QPointer<frmMsgOut> out = ann.shell->messageWindows().compose(
            QStringLiteral("Nobody"), QString(), QStringLiteral("127.0.0.1"), deadPort);
        control<QPushButton>(out, "cmdSend")->click();
        QTRY_COMPARE(out->statusText(), QStringLiteral("Failed to Establish Connection"));
        QVERIFY(out && out->isVisible());
        QVERIFY(!control<QPushButton>(out, "cmdSend")->isEnabled());
        QVERIFY(!control<QLabel>(out, "pnlAnimate")->property("running").toBool());
        control<QPushButton>(out, "cmdCancel")->click();
        QTRY_VERIFY(!out);

        // No address at all.
        out = ann.shell->messageWindows().compose(QStringLiteral("Nobody"), QString(), QString(), 2000);
        control<QPushButton>(out, "cmdSend")->click();
        QVERIFY(ann.windowOf<frmMessage>() && ann.windowOf<frmMessage>()->isVisible());
        QVERIFY(ann.windowOf<frmMessage>()->text().startsWith(
            QStringLiteral("You have entered an invalid Host Address: ")));
        QVERIFY(out && out->isVisible() && !control<QPushButton>(out, "cmdSend")->isEnabled());
    }
};

QTEST_MAIN(TestMessageWindows)
#include "tst_messagewindows.moc"
