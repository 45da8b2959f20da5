// The quick-message channel between two programs on loopback: what goes over the wire,
// what the recipient keeps, and the listener under senders that misbehave.

#include "messages/MessageComposer.h"
#include "messages/MessageSender.h"
#include "messages/QuickMessageProtocol.h"
#include "media/VideoEngine.h"
#include "support/MessageKit.h"

#include <QVideoFrame>
#include <QVideoSink>

#include <turbojpeg.h>

#include <cstring>
#include <random>

using namespace MessageKit;
namespace Proto = QuickMessageProtocol;

namespace {

QByteArray expectedBlocks(const QList<QByteArray> &clip)
{
    QByteArray out;
    for (const QByteArray &block : clip)
        out += "MDA;" + QByteArray::number(block.size()) + ';' + block + ";<E>";
    return out;
}

// Records a short clip from the test microphone.
bool recordClip(MessageComposer &c, int blocks)
{
    c.record();
    const bool reached = QTest::qWaitFor([&] { return c.recordIndex() > blocks; }, 10000);
    c.stop();
    return reached && int(c.clip().size()) >= blocks;
}

bool hasTerminator(const QByteArray &bytes)
{
    return bytes.contains("<E>");
}

// The indicator on the main window.
bool indicatorOn(Party &p)
{
    return p.window<QWidget>("imgMsgIn")->property("waiting").toBool();
}

} // namespace

class TestMessages : public QObject
{
    Q_OBJECT

private slots:
    void aMessageGoesOverTheWireExactly_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<bool>("picture");
        QTest::addColumn<bool>("sound");
        QTest::newRow("text only") << 71 << false << false;
        QTest::newRow("text only, no user number") << -1 << false << false;
        QTest::newRow("picture only") << 71 << true << false;
        QTest::newRow("sound only") << 71 << false << true;
        QTest::newRow("picture and sound") << 0 << true << true;
    }

    void aMessageGoesOverTheWireExactly()
    {
        QFETCH(int, number);
        QFETCH(bool, picture);
        QFETCH(bool, sound);
        Party ann(QStringLiteral("Ann"), number);
        Party bob(QStringLiteral("Bob"), 55);
        Relay relay(bob.messagePort());
        QSignalSpy sounds(&bob.program->parts().sounds, &SoundPlayer::playRequested);

        MessageComposer c(ann.composing([number] { return qint32(number); }));
        c.setRecipient(QStringLiteral("127.0.0.1"), relay.base());
        if (picture) {
            // Loaded before the camera's first frame: the picture comes with that frame, unasked.
            c.load();
            QTRY_VERIFY_WITH_TIMEOUT(!c.picture().isEmpty(), 10000);
            QVERIFY(!hasTerminator(c.picture()));
        }
        if (sound)
            QVERIFY(recordClip(c, 3));
        c.setImageChecked(picture);
        c.setAudioChecked(sound);
        QSignalSpy finished(&c, &MessageComposer::finished);
        c.send(QStringLiteral("Hello Bob; see you"));

        QTRY_VERIFY(relay.listenerClosed);
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(bob.messages().waitingCount(), 1);
        QVERIFY(indicatorOn(bob));
        QCOMPARE(sounds.count(), 1);
        QCOMPARE(sounds[0][0].toString(), QStringLiteral("inmsg.wav"));
        const std::optional<QuickMessage> m = bob.messages().takeOldest();
        QVERIFY(m);
        QVERIFY(!indicatorOn(bob));

        const QByteArray numberText = QByteArray::number(number);
        QByteArray sent = "MSR;" + numberText + ";<E>";
        sent += "MSB;" + QByteArray(number >= 0 ? " " : "") + numberText + ";Ann;Ann@example.org;Room Ann;"
                + m->sentAt.toUtf8() + ";Hello Bob; see you;<E>";
        QByteArray answered = "MRA;<E>MRN;<E>";
        if (picture) {
            sent += "MDI;" + QByteArray::number(c.picture().size()) + ';' + c.picture() + ";<E>";
            answered += "MRN;<E>";
        }
        if (sound) {
            sent += expectedBlocks(c.clip()) + "MAF;<E>";
            answered += "MRN;<E>";
        }
        sent += "MSE;<E>";
        QCOMPARE(relay.toReceiver, sent);
        QCOMPARE(relay.toSender, answered);

        QCOMPARE(m->senderNumber, qint32(number));
        QCOMPARE(m->senderName, QStringLiteral("Ann"));
        QCOMPARE(m->senderEmail, QStringLiteral("Ann@example.org"));
        QCOMPARE(m->senderLocation, QStringLiteral("Room Ann"));
        QCOMPARE(m->senderHost, QStringLiteral("127.0.0.1"));
        QCOMPARE(m->text, QStringLiteral("Hello Bob; see you"));
        QCOMPARE(m->picture, picture ? c.picture() : QByteArray());
        QCOMPARE(m->audioBlocks, sound ? c.clip() : QList<QByteArray>());
        if (picture)
            QVERIFY(!bob->messageMedia().thumbnail(m->picture).isNull());
        // The parts sent are unticked, as the window shows.
        QVERIFY(!c.imageChecked() && !c.audioChecked());
    }

    void aThumbnailNeverCarriesTheTerminator()
    {
        // A noise picture whose plain JPEG at the thumbnail's quality holds "<E>".
        const int w = Proto::ThumbnailWidth;
        const int h = Proto::ThumbnailHeight;
        QImage noise(w, h, QImage::Format_RGB888);
        std::mt19937 rng(2024);
        tjhandle raw = tjInitCompress();
        bool found = false;
        for (int attempt = 0; attempt < 60000 && !found; ++attempt) {
            for (int y = 0; y < h; ++y) {
                uchar *line = noise.scanLine(y);
                std::generate(line, line + w * 3, [&] { return uchar(rng() >> 24); });
            }
            uchar *buffer = nullptr;
            unsigned long size = 0;
            QCOMPARE(tjCompress2(raw, noise.constBits(), w, int(noise.bytesPerLine()), h, TJPF_RGB, &buffer, &size,
                                 TJSAMP_420, MessageComposer::PictureQuality, 0),
                     0);
            found = size <= unsigned(Proto::MaxPictureBytes)
                    && hasTerminator(QByteArray(reinterpret_cast<const char *>(buffer), int(size)));
            tjFree(buffer);
        }
        tjDestroy(raw);
        QVERIFY2(found, "no noise picture produced the terminator");

        Party ann(QStringLiteral("Ann"), 71);
        Party bob(QStringLiteral("Bob"), 55);
        MessageComposer c(ann.composing());
        QVERIFY(c.useThumbnail(noise));
        QVERIFY(!c.picture().isEmpty() && c.picture().size() <= Proto::MaxPictureBytes);
        QVERIFY(!hasTerminator(c.picture()));
        // It arrives whole and shows.
        c.setRecipient(QStringLiteral("127.0.0.1"), bob.port);
        c.send(QStringLiteral("noise"));
        QTRY_COMPARE(bob.messages().waitingCount(), 1);
        const std::optional<QuickMessage> m = bob.messages().takeOldest();
        QCOMPARE(m->picture, c.picture());
        QCOMPARE(bob->messageMedia().thumbnail(m->picture).size(), QSize(w, h));
    }

    // A message begun while the camera has no usable frame (starting, or its last one did
    // not decode) gets its picture when the next frame comes, without being asked again.
    void aPictureMissingAtTheStartComesWithTheNextFrame()
    {
        Party ann(QStringLiteral("Ann"), 71);
        MessageComposer c(ann.composing());
        QTRY_VERIFY(!ann->messageMedia().grabThumbnail().isNull());
        QVideoFrame broken(QVideoFrameFormat(QSize(320, 240), QVideoFrameFormat::Format_Jpeg));
        QVERIFY(broken.map(QVideoFrame::WriteOnly));
        std::memset(broken.bits(0), 0x42, size_t(broken.mappedBytes(0)));
        broken.unmap();
        ann->videoEngine().videoSink()->setVideoFrame(broken);
        c.load();
        QVERIFY(c.canRefresh());
        QVERIFY(c.thumbnail().isNull());
        QTRY_VERIFY(!c.thumbnail().isNull());
        QVERIFY(c.imageChecked());
    }

    void refusedOrDisabledSendersAreAnsweredAndCanStoreNothing()
    {
        Party bob(QStringLiteral("Bob"), 55);
        IPDaemon &ipd = bob.messages().ipdMessage();
        QVERIFY(!bob->parts().refuseList.add(bob.dir.filePath(QStringLiteral("refuse.dat")), 71, "Ann", "ann@x.org"));

        for (const bool disabled : {false, true}) {
            bob.settings().Disable = disabled;
            // Refused by number, or anyone while messaging is off.
            RawClient s(bob.messagePort());
            QTRY_VERIFY(s.connected());
            s.send(disabled ? "MSR;12;<E>" : "MSR;71;<E>");
            QTRY_COMPARE(s.received, QByteArray("MRD;<E>"));
            // Ignoring the answer stores nothing: every command is dropped.
            QSignalSpy lines(&ipd, &IPDaemon::dataIn);
            s.send("MSB; 71;Ann;ann@x.org;Rome;now;sneaky;<E>MDI;2;ab;<E>MAF;<E>MSR;12;<E>MSE;<E>");
            QTRY_VERIFY(!lines.isEmpty() && lines.last().at(1).toByteArray() == "MSE;");
            QCOMPARE(s.received, QByteArray("MRD;<E>"));
            QCOMPARE(bob.messages().waitingCount(), 0);
            // The connection stays open until the sender goes.
            QVERIFY(s.connected() && ipd.connectionIds().size() == 1);
            s.drop();
            QTRY_VERIFY(ipd.connectionIds().isEmpty());
        }

        // Through a program: the compose side reports the refusal and keeps its window.
        bob.settings().Disable = false;
        Party ann(QStringLiteral("Ann"), 71);
        MessageComposer c(ann.composing());
        QSignalSpy status(&c, &MessageComposer::statusChanged);
        QSignalSpy finished(&c, &MessageComposer::finished);
        c.setRecipient(QStringLiteral("127.0.0.1"), bob.port);
        c.send(QStringLiteral("hi"));
        QTRY_COMPARE(c.sender().state(), MessageSender::State::Refused);
        QCOMPARE(status.last().at(0).toString(), QStringLiteral("Message Refused from User"));
        QCOMPARE(finished.count(), 0);
        QCOMPARE(ipd.connectionIds().size(), 1);
    }

    void tenUnreadMessagesCloseTheEleventhConnection()
    {
        Party bob(QStringLiteral("Bob"), 55);
        for (int i = 1; i <= 10; ++i)
            QVERIFY(sendWhole(bob.messagePort(), 100 + i, "message " + QByteArray::number(i)));
        QCOMPARE(bob.messages().waitingCount(), 10);
        RawClient eleventh(bob.messagePort());
        QTRY_VERIFY(eleventh.closed);
        QVERIFY(eleventh.received.isEmpty());

        // A program sending then is told, rather than seeing its window close as if sent.
        Party ann(QStringLiteral("Ann"), 71);
        MessageComposer c(ann.composing());
        QSignalSpy finished(&c, &MessageComposer::finished);
        QSignalSpy status(&c, &MessageComposer::statusChanged);
        c.setRecipient(QStringLiteral("127.0.0.1"), bob.port);
        c.send(QStringLiteral("one too many"));
        QTRY_COMPARE(c.sender().state(), MessageSender::State::Lost);
        QCOMPARE(status.last().at(0).toString(), MessageSender::lostText());
        QCOMPARE(finished.count(), 0);
    }

    // Eleven senders at once get ten slots of their own; broken senders give theirs back.
    void elevenSendersAtOnceGetTenSlotsAndBrokenOnesGiveThemBack()
    {
        Party bob(QStringLiteral("Bob"), 55);
        IPDaemon &ipd = bob.messages().ipdMessage();
        std::vector<std::unique_ptr<RawClient>> senders;
        for (int i = 0; i < 11; ++i) {
            senders.push_back(std::make_unique<RawClient>(bob.messagePort(), QStringLiteral("127.0.2.%1").arg(i + 1)));
            QTRY_VERIFY(senders.back()->connected() || senders.back()->closed);
            QTRY_COMPARE(ipd.connectionIds().size(), std::min(i + 1, 10));
        }
        QTRY_VERIFY(senders.back()->closed);
        senders.pop_back();
        // All ten speak in turns, each part of each message before the next part of any.
        for (auto &s : senders)
            s->send("MSR;7;<E>");
        for (auto &s : senders)
            QTRY_COMPARE(s->received, QByteArray("MRA;<E>"));
        for (size_t i = 0; i < senders.size(); ++i)
            senders[i]->send("MSB; 7;Raw;raw@x.org;Lab;now;from sender " + QByteArray::number(int(i)) + ";<E>");
        for (auto &s : senders)
            QTRY_COMPARE(s->received, QByteArray("MRA;<E>MRN;<E>"));
        for (auto &s : senders)
            s->send("MSE;<E>");
        QTRY_COMPARE(bob.messages().waitingCount(), 10);
        QStringList texts;
        while (const std::optional<QuickMessage> m = bob.messages().takeOldest())
            texts << m->text;
        texts.sort();
        QStringList expected;
        for (int i = 0; i < 10; ++i)
            expected << QStringLiteral("from sender %1").arg(i);
        QCOMPARE(texts, expected);
        senders.clear();
        QTRY_VERIFY(ipd.connectionIds().isEmpty());

        for (int round = 0; round < 2; ++round) {
            for (int i = 0; i < 10; ++i) {
                senders.push_back(std::make_unique<RawClient>(bob.messagePort(), QStringLiteral("127.0.2.%1").arg(i + 1)));
                QTRY_VERIFY(senders.back()->connected());
                senders.back()->send("MSR;7;<E>MSB; 7;Raw;r@x;Lab;now;half;<E>MDA;3;abc;<E>");
            }
            for (auto &s : senders)
                QTRY_COMPARE(s->received, QByteArray("MRA;<E>MRN;<E>"));
            QCOMPARE(ipd.connectionIds().size(), 10);
            for (auto &s : senders)
                s->drop();
            QTRY_VERIFY(ipd.connectionIds().isEmpty());
            senders.clear();
        }
        // Every slot is free again: a whole message still gets in, and no half one waits.
        QVERIFY(sendWhole(bob.messagePort(), 8, "whole"));
        QCOMPARE(bob.messages().waitingCount(), 1);
        QCOMPARE(bob.messages().takeOldest()->text, QStringLiteral("whole"));
    }

    void silentAndSurplusConnectionsAreClosed()
    {
        Party bob(QStringLiteral("Bob"), 55);
        IPDaemon &ipd = bob.messages().ipdMessage();
        // A sender that never finishes is closed after the idle time, and its slot is free.
        bob.messages().setIdleCloseTime(300);
        RawClient silent(bob.messagePort());
        RawClient slow(bob.messagePort());
        QTRY_VERIFY(silent.connected() && slow.connected());
        slow.send("MSR;7;<E>MSB; 7;Raw;r@x;Lab;now;slow;<E>");
        QTRY_VERIFY(silent.closed && slow.closed);
        QCOMPARE(slow.received, QByteArray("MRA;<E>MRN;<E>"));
        QCOMPARE(bob.messages().waitingCount(), 0);

        // Turned-away senders hold no slot, but the listener holds at most 16 connections.
        bob.messages().setIdleCloseTime(MessageService::IdleCloseMs);
        bob.settings().Disable = true;
        std::vector<std::unique_ptr<RawClient>> held;
        for (int i = 0; i < MessageService::MaxConnections; ++i) {
            held.push_back(std::make_unique<RawClient>(bob.messagePort(), QStringLiteral("127.0.2.%1").arg(i + 1)));
            QTRY_VERIFY(held.back()->connected());
            held.back()->send("MSR;7;<E>");
            QTRY_COMPARE(held.back()->received, QByteArray("MRD;<E>"));
        }
        QCOMPARE(ipd.connectionIds().size(), MessageService::MaxConnections);
        // The surplus is closed at once, unless the held ones have sat long enough without
        // a message head for the oldest to give its place.
        const auto heldClosed = [&] {
            return std::count_if(held.begin(), held.end(), [](const auto &h) { return h->closed; });
        };
        RawClient surplus(bob.messagePort(), QStringLiteral("127.0.3.1"));
        QTRY_VERIFY(surplus.closed || heldClosed() == 1);
        QCOMPARE(ipd.connectionIds().size(), MessageService::MaxConnections);
        const auto open = std::find_if(held.begin(), held.end(), [](const auto &h) { return !h->closed; });
        (*open)->drop();
        QTRY_COMPARE(ipd.connectionIds().size(), MessageService::MaxConnections - 1);
        RawClient next(bob.messagePort(), QStringLiteral("127.0.3.2"));
        QTRY_COMPARE(ipd.connectionIds().size(), MessageService::MaxConnections);
        QVERIFY(!next.closed);
    }

    void outOfOrderAndMalformedInputIsDropped()
    {
        Party bob(QStringLiteral("Bob"), 55);
        RawClient s(bob.messagePort());
        QTRY_VERIFY(s.connected());
        // Nothing counts before the request is accepted, nor a part before the head.
        s.send("MSE;<E>MDA;5;abcde;<E>MSB; 1;Early;e@x;E;now;early;<E>MSR;-7;<E>");
        QTRY_COMPARE(s.received, QByteArray("MRA;<E>"));
        s.send("MDA;5;abcde;<E>MDI;2;zz;<E>MAF;<E>MSE;<E>garbage<E>;;;<E><E>");
        s.send("MSB;-7;Mal;mal@x.org;Nowhere;then;body;<E>");
        QTRY_COMPARE(s.received, QByteArray("MRA;<E>MRN;<E>"));
        // Counts beyond the message, negative counts, 61 blocks, a message longer than the
        // input buffer.
        QByteArray parts = "MDI;-3;qq;<E>MDI;99999;xy<E>";
        for (int i = 1; i <= 59; ++i)
            parts += "MDA;3;abc;<E>";
        parts += "MDA;99;q<E>MDA;3;zzz;<E>";
        parts += "MDA;40000;" + QByteArray(40000, 'x') + ";<E>";
        parts += "MAF;<E>";
        s.send(parts);
        QTRY_COMPARE(s.received, QByteArray("MRA;<E>MRN;<E>MRN;<E>MRN;<E>MRN;<E>"));
        QCOMPARE(bob.messages().waitingCount(), 0);
        s.send("MSE;<E>");
        QTRY_VERIFY(s.closed);

        QCOMPARE(bob.messages().waitingCount(), 1);
        const std::optional<QuickMessage> m = bob.messages().takeOldest();
        QCOMPARE(m->senderNumber, -7);
        QCOMPARE(m->senderName, QStringLiteral("Mal"));
        QCOMPARE(m->text, QStringLiteral("body"));
        QCOMPARE(m->picture, QByteArray("xy"));
        QCOMPARE(m->audioBlocks.size(), Proto::MaxAudioBlocks);
        QCOMPARE(m->audioBlocks.first(), QByteArray("abc"));
        QCOMPARE(m->audioBlocks.last(), QByteArray("q"));
        // No slot stayed behind.
        for (int i = 0; i < 10; ++i)
            QVERIFY(sendWhole(bob.messagePort(), 9, "again"));
        QCOMPARE(bob.messages().waitingCount(), 10);
    }

    void waitingMessagesOpenOldestFirstFromTheIndicator()
    {
        Party bob(QStringLiteral("Bob"), 55);
        for (const char *text : {"one", "two", "three"})
            QVERIFY(sendWhole(bob.messagePort(), 9, text));
        QVERIFY(indicatorOn(bob));

        const auto openNext = [&] {
            frmMsgIn *w = bob.openOldest();
            return w ? control<QPlainTextEdit>(w, "txtMessageIn")->toPlainText() : QString();
        };
        QCOMPARE(openNext(), QStringLiteral("one"));
        QVERIFY(indicatorOn(bob));
        // A new message takes the lowest free slot; it still waits behind the older ones.
        QVERIFY(sendWhole(bob.messagePort(), 9, "four"));
        QCOMPARE(openNext(), QStringLiteral("two"));
        QCOMPARE(openNext(), QStringLiteral("three"));
        QVERIFY(indicatorOn(bob));
        QCOMPARE(openNext(), QStringLiteral("four"));
        QVERIFY(!indicatorOn(bob));
        QCOMPARE(openNext(), QString());
        QVERIFY(!indicatorOn(bob));
        QCOMPARE(bob.main()->findChildren<frmMsgIn *>().size(), 4);
    }
};

QTEST_MAIN(TestMessages)
#include "tst_messages.moc"
