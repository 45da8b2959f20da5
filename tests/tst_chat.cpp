#include "support/RawClient.h"
#include "support/Windows.h"
#include "call/ControlProtocol.h"
#include "media/MediaClock.h"
#include "media/MediaPacket.h"

#include <QClipboard>
#include <QInputMethodEvent>
#include <QSplitter>

namespace {

const QString Bell = QStringLiteral("chatbell.wav");

// One program with its windows; its bells are spaced by a clock that moves only when a
// test says so.
struct Peer : RunningProgram
{
    std::unique_ptr<QSignalSpy> sounds;

    explicit Peer(const QString &name, bool autoAccept = false)
        : RunningProgram(name, Options{.windows = true, .autoAccept = autoAccept})
    {
        sounds = std::make_unique<QSignalSpy>(&program->parts().sounds, &SoundPlayer::playRequested);
        settings().SendWelcome = false;
        program->parts().mediaClock.setManual(100);
    }

    ChatSession &chat() { return program->chat(); }
    frmNewChat *window() { return windowOf<frmNewChat>(); }
    QPlainTextEdit *typingBox() { return window()->txtOut(); }
    QString conversation() { return window()->conversation(); }
    QString typing()
    {
        window()->showPending();
        return typingBox()->toPlainText();
    }
    int bells() { return int(std::count_if(sounds->begin(), sounds->end(), [](const QList<QVariant> &s) {
        return s.first().toString() == Bell;
    })); }

    void type(const QString &text)
    {
        for (const QChar c : text) {
            if (c == QLatin1Char('\r'))
                QTest::keyClick(typingBox(), Qt::Key_Return);
            else if (c == QLatin1Char('\b'))
                QTest::keyClick(typingBox(), Qt::Key_Backspace);
            else
                QTest::keyClicks(typingBox(), QString(c));
        }
    }
    // A character the keyboard makes that is not on a test's key list.
    void typeText(const QString &text)
    {
        QTest::sendKeyEvent(QTest::Click, typingBox(), Qt::Key_unknown, text, Qt::NoModifier);
    }
    void click(const char *button)
    {
        QTest::mouseClick(window()->findChild<QPushButton *>(QLatin1String(button)), Qt::LeftButton);
    }
};

} // namespace

class TestChat : public QObject
{
    Q_OBJECT

private slots:
    void realTimeTypingShowsAtThePeerLetterByLetter()
    {
        Peer ann(QStringLiteral("Ann"));
        Peer bob(QStringLiteral("Bob"), true);
        // Outside a call a stranger cannot type into the transcript.
        QVERIFY(turnedAway(bob.port + 3));

        ann.call(bob);
        QTRY_VERIFY_WITH_TIMEOUT(ann.chat().isRealTime() && bob.chat().isRealTime(), 10000);
        QCOMPARE(bob.conversation(), QStringLiteral("Call: Ann, Time in Annville is 9:05.\n"));
        // The one chat connection of the call is taken; a second one is turned away.
        QVERIFY(turnedAway(bob.port + 3));
        QVERIFY(bob.chat().isRealTime());

        ann.type(QStringLiteral("ab\bc"));
        QTRY_VERIFY(bob.conversation().endsWith(QStringLiteral(".\nac")));
        QCOMPARE(ann.typing(), QStringLiteral("ac"));
        ann.type(QStringLiteral("\r"));
        QTRY_VERIFY(bob.conversation().endsWith(QStringLiteral("ac\n")));
        // Backspace after a line break takes the whole break back.
        ann.type(QStringLiteral("\b"));
        QTRY_VERIFY(bob.conversation().endsWith(QStringLiteral(".\nac")));
        ann.typeText(QStringLiteral("é"));
        ann.typeText(QStringLiteral("😀"));
        QTRY_VERIFY(bob.conversation().endsWith(QStringLiteral(".\nacé😀")));
        ann.type(QStringLiteral("\b"));
        QTRY_VERIFY(bob.conversation().endsWith(QStringLiteral(".\nacé")));
        QCOMPARE(ann.typing(), QStringLiteral("acé"));

        // The answering side types back over the connection it accepted. More Backspaces
        // than it typed take back only its own letters.
        bob.type(QStringLiteral("hi\b\b\b\bok"));
        QTRY_VERIFY(ann.conversation().endsWith(QStringLiteral("Time in Bobville is 9:05.\nok")));

        // Clear Text empties Bob's conversation; what Ann types next shows from the start,
        // and her Backspace still takes her own letters back.
        bob.click("cmdClear");
        QCOMPARE(bob.conversation(), QString());
        ann.type(QStringLiteral("\rxy\bz"));
        QTRY_COMPARE(bob.conversation(), QStringLiteral("\nxz"));

        // The end of the call closes the chat connection and says so on both sides.
        ann.calls().hangUp();
        QTRY_VERIFY(!bob.chat().ipdText().isConnected(1));
        QTRY_VERIFY(!ann.chat().isConnected());
        for (Peer *p : {&ann, &bob}) {
            // The chat connection may close before the media connection's close is taken in.
            QTRY_VERIFY(p->conversation().endsWith(QStringLiteral("\n<End of Connection>\n")));
            QCOMPARE(p->typing(), QString());
            QVERIFY(!p->chat().isRealTime());
        }
        QVERIFY(turnedAway(bob.port + 3));
    }

    void lineModeEchoesEachLineAndSendsItThroughTheMediaChannel()
    {
        Peer ann(QStringLiteral("Ann"));
        Peer bob(QStringLiteral("Bob"), true);
        bob.settings().EnableRTC = false;
        ann.call(bob);
        QTRY_VERIFY_WITH_TIMEOUT(bob.chat().ipdText().isConnected(1), 10000);
        // Asked to connect without an address, the caller's side keeps the connection it has.
        QTRY_VERIFY(ann.chat().ippText().isConnected());
        ann.chat().connectTo(QString(), ann.chat().ippText().remotePort());
        QVERIFY(ann.chat().ippText().isConnected());
        QVERIFY(ann.call().PeerIsV25 && !ann.call().RealTimeChat);
        QVERIFY(!ann.chat().isRealTime() && !bob.chat().isRealTime());

        ann.type(QStringLiteral("hello\b!\r"));
        QVERIFY(ann.conversation().endsWith(QStringLiteral("9:05.\n> hell!\n")));
        QCOMPARE(ann.typing(), QString());
        QTRY_VERIFY(bob.conversation().endsWith(QStringLiteral("9:05.\nhell!\n")));
        bob.type(QStringLiteral("Hi Ann, caf"));
        bob.typeText(QStringLiteral("é"));
        bob.type(QStringLiteral("\r"));
        QTRY_VERIFY(ann.conversation().endsWith(QStringLiteral("> hell!\nHi Ann, café\n")));

        // An empty line is echoed and queued all the same.
        ann->parts().setMediaLoopByHand(true);
        ann.type(QStringLiteral("\r"));
        QVERIFY(ann.conversation().endsWith(QStringLiteral("café\n> \n")));
        QVERIFY(!ann.program->parts().textQueue.isEmpty());
        QCOMPARE(ann.program->parts().textQueue.front(), QByteArray());
        ann->parts().setMediaLoopByHand(false);

        // With a 2.5 peer, Ctrl+G rings here and there and is not typed; Ring User too.
        QTest::keyClick(ann.typingBox(), Qt::Key_G, Qt::ControlModifier);
        QCOMPARE(ann.typing(), QString());
        QCOMPARE(ann.bells(), 1);
        QTRY_COMPARE(bob.bells(), 1);
        bob.program->parts().mediaClock.advance(1);
        ann.program->parts().mediaClock.advance(1);
        bob.click("cmdBell");
        QCOMPARE(bob.bells(), 2);
        QTRY_COMPARE(ann.bells(), 2);
        // Never while the call's sound is running.
        bob.program->parts().mediaClock.advance(1);
        QVERIFY(bob->audioControl().openMicrophone());
        ann.program->parts().mediaClock.advance(1);
        QSignalSpy bobIn(&bob.chat().ipdText(), &IPDaemon::dataIn);
        ann.click("cmdBell");
        QCOMPARE(ann.bells(), 3);
        QTest::keyClick(ann.typingBox(), Qt::Key_G, Qt::ControlModifier);
        QCOMPARE(ann.bells(), 3); // too soon after the last one
        QTRY_COMPARE(bobIn.count(), 2);
        QCOMPARE(bob.bells(), 2);
    }

    void aCallerSendingAnythingOnTheChatConnectionCannotHurt()
    {
        Peer bob(QStringLiteral("Bob"), true);
        RawCaller eve;
        QVERIFY(eve.callUpToChat(bob, true));
        QVERIFY(bob.chat().isRealTime());
        const QString callLine = QStringLiteral("Call: Eve, Time in Evetown is 9:05.\n");
        QCOMPARE(bob.conversation(), callLine);

        // What Bob types goes out byte by byte; a Backspace with nothing left to take back
        // is not sent.
        bob.typeText(QStringLiteral("é"));
        bob.type(QStringLiteral("\r\b\b\b"));
        bob.click("cmdBell");
        QTest::keyClick(bob.typingBox(), Qt::Key_G, Qt::ControlModifier);
        const QByteArray typed = "T\xc3\xa9;<E>T\r;<E>T\x08;<E>T\x08;<E>T\x07<E>BEL<E>";
        QTRY_COMPARE(eve.chat.received, typed);
        QCOMPARE(bob.bells(), 1); // the second bell came too soon after the first

        // Messages that are not one character, one too long to be a message (whose tail
        // would read as one), a lone byte from an older peer, and more Backspaces than Eve
        // typed: the call line stays.
        eve.chat.send("T<E>T;<E>Tab;<E>X<E><E>" + QByteArray(ChatSession::InputBufferSize, 'x') + "Tz;<E>");
        eve.chat.send("Tk;<E>T\xe9;<E>" + QByteArray("T\x08;<E>").repeated(50) + "Tm;<E>");
        QTRY_VERIFY(bob.conversation().endsWith(QStringLiteral("m")));
        QCOMPARE(bob.conversation(), callLine + QStringLiteral("m"));

        // A flood of bells rings once; later bells ring again, unless the call's sound runs.
        bob.program->parts().mediaClock.advance(1);
        eve.chat.send(QByteArray("BEL<E>T\x07<E>").repeated(500) + "Tn;<E>");
        QTRY_VERIFY(bob.conversation().endsWith(QStringLiteral("mn")));
        QCOMPARE(bob.bells(), 2);
        bob.program->parts().mediaClock.advance(1);
        QVERIFY(bob->audioControl().openMicrophone());
        eve.chat.send("BEL<E>To;<E>");
        QTRY_VERIFY(bob.conversation().endsWith(QStringLiteral("mno")));
        QCOMPARE(bob.bells(), 2);
        bob->audioControl().closeMicrophone();

        // Typing never lets the conversation grow past its bound; the window keeps up.
        QString expected = bob.chat().conversation().text();
        QByteArray flood;
        for (int i = 0; i < 20000; ++i) {
            const char c = char('a' + i % 26);
            flood += QByteArray("T") + c + ";<E>";
            if (expected.size() > ChatSession::ConversationLimit)
                expected = expected.right(ChatSession::ConversationKeep);
            expected += QLatin1Char(c);
        }
        eve.chat.send(flood);
        QTRY_COMPARE(bob.chat().conversation().text(), expected);
        QCOMPARE(bob.conversation(), expected);
        QVERIFY(expected.size() <= ChatSession::ConversationLimit + 1);

        // Eve goes: the call ends and the chat connection is closed from Bob's side.
        eve.media.socket.disconnectFromHost();
        QVERIFY(eve.chat.waitClosed());
        QVERIFY(bob.conversation().endsWith(QStringLiteral("\n<End of Connection>\n")));
    }

    void anOlderCallerGetsLinesAndCtrlGAsACharacter()
    {
        Peer bob(QStringLiteral("Bob"), true);
        RawCaller eve;
        QVERIFY(eve.callUpToChat(bob, false));
        QVERIFY(!bob.call().PeerIsV25 && !bob.chat().isRealTime());

        bob.type(QStringLiteral("hi"));
        QTest::keyClick(bob.typingBox(), Qt::Key_G, Qt::ControlModifier);
        QCOMPARE(bob.typing(), QStringLiteral("hi\x07"));
        bob.type(QStringLiteral("\r"));
        QTRY_VERIFY(eve.media.received.contains(MediaPacket::build(MediaPacket::TextKind, "hi\x07")));
        QVERIFY(bob.conversation().endsWith(QStringLiteral("9:05.\n> hi\x07\n")));
        QCOMPARE(bob.bells(), 0);
        QCOMPARE(eve.chat.received, QByteArray());
        // Whatever way the peer sends, it is shown.
        eve.media.send(MediaPacket::build(MediaPacket::TextKind, "line"));
        QTRY_VERIFY(bob.conversation().endsWith(QStringLiteral("> hi\x07\nline\n")));
        eve.chat.send("Tx;<E>");
        QTRY_VERIFY(bob.conversation().endsWith(QStringLiteral("> hi\x07\nline\nx")));
    }

    void theTypingBoxOnlyGrowsAtItsEnd()
    {
        Peer ann(QStringLiteral("Ann"));
        ann.shell->mainController().toggleChat();
        QPlainTextEdit *box = ann.typingBox();
        ann.type(QStringLiteral("hello"));
        QCOMPARE(ann.typing(), QStringLiteral("hello"));
        QCOMPARE(box->textCursor().position(), 5);

        QTest::mouseClick(box->viewport(), Qt::LeftButton, {}, QPoint(4, 4));
        QTest::mouseDClick(box->viewport(), Qt::LeftButton, {}, QPoint(4, 4));
        for (const Qt::Key key : {Qt::Key_Home, Qt::Key_Left, Qt::Key_Up, Qt::Key_PageUp, Qt::Key_Delete})
            QTest::keyClick(box, key);
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(box, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(box->textCursor().position(), 5);
        QVERIFY(!box->textCursor().hasSelection());
        ann.type(QStringLiteral("!"));
        QCOMPARE(ann.typing(), QStringLiteral("hello!"));

        // A composed letter is typed once committed; a pasted text is typed too, each line
        // break sending the line.
        QInputMethodEvent composing(QStringLiteral("u"), {});
        QApplication::sendEvent(box, &composing);
        QCOMPARE(ann.typing(), QStringLiteral("hello!"));
        QInputMethodEvent committed;
        committed.setCommitString(QStringLiteral("\u00fc"));
        QApplication::sendEvent(box, &committed);
        QGuiApplication::clipboard()->setText(QStringLiteral(" one\r\ntwo"));
        QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
        QVERIFY(ann.conversation().endsWith(QStringLiteral("> hello!\u00fc one\n")));
        QCOMPARE(ann.typing(), QStringLiteral("two"));
        QCOMPARE(box->textCursor().position(), 3);
    }

    void theWindowSitsBelowTheMainWindowAndItsButtonsAndCloseBoxWork()
    {
        Peer ann(QStringLiteral("Ann"));
        frmNewChat *w = ann.window();
        frmMain *main = ann.shell->mainWindow();
        const QRect below = main->frameGeometry();
        QCOMPARE(w->pos(), QPoint(below.left(), below.top() + below.height()));
        QCOMPARE(w->height(), 331);
        ann.shell->mainController().toggleChat();

        main->move(main->x(), WindowPlacement::screenHeight(main) - 20);
        w->placeBelow(main);
        QCOMPARE(w->y(), WindowPlacement::screenHeight(main) - 150);

        w->resize(10, 10);
        QCOMPARE(w->size(), QSize(133, 120));
        w->resize(400, 300);
        QCOMPARE(control<QSplitter>(w, "splitChat")->size(), QSize(400 - 7, 300 - 50));
        const QRect panel = control(w, "pnlChat")->geometry();
        QCOMPARE(panel.top(), 300 - 48);
        QCOMPARE(panel.width(), 400 - 9);

        // The font buttons keep within their bounds, and in the settings.
        QVERIFY(w->isVisible());
        QVERIFY(main->action(QStringLiteral("Menu_ViewChat"))->isChecked());
        ann.type(QStringLiteral("kept\rand this"));

        const auto sizes = [&] { return std::pair(w->txtIn()->font().pointSize(), w->txtOut()->font().pointSize()); };
        QCOMPARE(sizes(), qMakePair(9, 9));
        ann.click("cmdFontDown");
        QCOMPARE(sizes(), qMakePair(8, 8));
        ann.click("cmdFontDown");
        QCOMPARE(sizes(), qMakePair(8, 8));
        QCOMPARE(ann.settings().ChatFontSize, 8);
        for (int i = 0; i < 40; ++i)
            ann.click("cmdFontUp");
        QCOMPARE(sizes(), qMakePair(48, 48));
        QCOMPARE(ann.settings().ChatFontSize, 48);
        ann.window()->showPending();
        QCOMPARE(ann.typingBox()->textCursor().position(), 8);

        // The close box only hides the window; the text stays.
        w->close();
        QVERIFY(!w->isVisible());
        QVERIFY(!main->action(QStringLiteral("Menu_ViewChat"))->isChecked());
        QVERIFY(!main->buttonPressed(3));
        QCOMPARE(ann.conversation(), QStringLiteral("> kept\n"));
        QCOMPARE(ann.typing(), QStringLiteral("and this"));
        ann.shell->mainController().toggleChat();

        ann.click("cmdClear");
        QCOMPARE(ann.conversation(), QString());
        QCOMPARE(ann.typing(), QString());
    }
};

QTEST_MAIN(TestChat)
#include "tst_chat.moc"
