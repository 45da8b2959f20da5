#include "tls/Identity.h"
#include "secure/KnownPeers.h"
#include "secure/SecurityService.h"
#include "tls/TlsContext.h"
#include "support/RawClient.h"
#include "support/SecureKit.h"
#include "ui/SecurityBadge.h"
#include "ui/SecurityIndicators.h"
#include "ui/SecurityNote.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The long-term key and the peers remembered, as the profile folder and two users see them.
namespace {

QFileDevice::Permissions othersBits(const QString &path)
{
    return QFile::permissions(path)
           & (QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther);
}

QByteArray key(char fill)
{
    return QByteArray(32, fill);
}

QString keyFile(const SecureKit::End &end)
{
    return end.dir.filePath(Identity::FileName);
}

} // namespace

using SecureKit::Client;
using SecureKit::End;

class TestSecureKeys : public QObject
{
    Q_OBJECT

private slots:
    void firstStartMakesAKeyOnlyItsOwnerCanRead()
    {
        End p(QStringLiteral("ann@example.org"));
        QVERIFY(p.service->identity().isReady());
        QVERIFY(QFile::exists(keyFile(p)));
        QCOMPARE(othersBits(keyFile(p)), QFileDevice::Permissions());
        QVERIFY(p.log.contains(QStringLiteral("Made a new key for encrypted calls")));
        const QByteArray first = p.service->identity().fingerprint();
        QCOMPARE(first.size(), 32);

        // The next start uses the same key, quietly; the certificate follows the e-mail
        // address, the key's fingerprint does not.
        End again(QStringLiteral("ann@example.net"), false);
        QFile::copy(keyFile(p), keyFile(again));
        QFile::setPermissions(keyFile(again), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        again.service->start();
        QCOMPARE(again.service->identity().fingerprint(), first);
        QVERIFY(again.log.isEmpty());
        const TlsSetup::Credentials own = again.service->identity().credentials(QStringLiteral("ann@example.net"));
        QCOMPARE(own.certificate.subjectInfo(QSslCertificate::EmailAddress).value(0), QStringLiteral("ann@example.net"));
        QCOMPARE(own.fingerprint, first);
        QVERIFY(!again.service->identity().credentials(QStringLiteral("ann@example.org")).certificate.isNull());
    }

    // A certificate with another key than its own is no use to the server's encrypted
    // ports: it is refused, saying why, rather than served to handshakes nobody finishes.
    void aCertificateWithAnotherKeyIsRefused()
    {
        QTemporaryDir dir;
        Identity mine;
        Identity other;
        QVERIFY(!mine.create(dir.filePath(QStringLiteral("mine.key"))));
        QVERIFY(!other.create(dir.filePath(QStringLiteral("other.key"))));
        TlsSetup::Credentials mixed = mine.credentials(QString());
        mixed.key = other.credentials(QString()).key;
        QString why;
        QVERIFY(!TlsContext::make(TlsContext::Side::Server, mixed, {}, &why));
        QVERIFY(!why.isEmpty());
    }

    // An installation that lost its key module cannot read keys: a good key file is not
    // taken for a damaged one (which the user is told to replace), and nothing is written.
    void aMissingKeyModuleIsSaidAndTheKeyFileLeftAlone()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(Identity::FileName);
        QVERIFY(!Identity().create(path));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();

        QTemporaryDir noModules;
        Identity broken(QStringList{noModules.path()});
        QCOMPARE(broken.load(path), Identity::Check::NoKeyModule);
        QVERIFY2(broken.keyModuleProblem().contains(QStringLiteral("zelmo-keys.so was not found")),
                 qPrintable(broken.keyModuleProblem()));
        QVERIFY(broken.create(path));
        QVERIFY(!broken.isReady());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
        QVERIFY(!QFile::exists(path + Identity::SetAsideSuffix));
    }

    void knownPeersSurviveARestartAndBadLinesAreDropped()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(KnownPeers::FileName);
        KnownPeers peers;
        peers.remember(QStringLiteral("bob@example.org"), key('b'), QStringLiteral("192.0.2.7"));
        peers.markVerified(QStringLiteral("192.0.2.9"), key('c'), QStringLiteral("192.0.2.9"));
        QVERIFY(!peers.save(path));
        QCOMPARE(othersBits(path), QFileDevice::Permissions());

        // A line added by hand badly, a key of the wrong length, a tab in a name, a name
        // longer than an e-mail address can be: dropped.
        QByteArray bytes = TestSupport::readBytes(path);
        bytes += "carol@example.org\tzz\tverified\t192.0.2.8\n";
        bytes += "dave@example.org\t" + key('d').toHex().left(62) + "\tverified\t192.0.2.8\n";
        bytes += "eve\t@example.org\t" + key('e').toHex() + "\tverified\t192.0.2.8\n";
        bytes += "frank@example.org\t" + key('f').toHex() + "\tmaybe\t192.0.2.8\n";
        bytes += QByteArray(KnownPeers::MaxWhoLength + 1, 'g') + '\t' + key('g').toHex() + "\tverified\t192.0.2.8\n";
        TestSupport::writeBytes(path, bytes);

        KnownPeers loaded;
        loaded.load(path);
        QCOMPARE(loaded.peers().size(), 2);
        QCOMPARE(loaded.check(QStringLiteral("bob@example.org"), key('b')), KnownPeers::Seen::Same);
        QVERIFY(!loaded.isVerified(QStringLiteral("bob@example.org"), key('b')));
        QVERIFY(loaded.isVerified(QStringLiteral("192.0.2.9"), key('c')));
        QVERIFY(loaded.answeredEncryptedFrom(QStringLiteral("192.0.2.7")));
        QVERIFY(!loaded.answeredEncryptedFrom(QStringLiteral("192.0.2.8")));
    }

    // Auto-accept answers by itself only the remembered key or a peer never met; after a
    // stranger's message naming Ann, the stranger's call is still not Ann's, and a plain
    // call from where a peer was encrypted before waits for the user.
    void autoAcceptIsNotOpenedByAMessageNorByAPlainCall()
    {
        End bob(QStringLiteral("bob@example.org"));
        QVERIFY(bob.answer(TestSupport::portBlock()));
        End ann(QStringLiteral("ann@example.org"));
        End stranger(QStringLiteral("ann@example.org"));
        bob.service->knownPeers().markVerified(QStringLiteral("ann@example.org"), ann.key(), QStringLiteral("192.0.2.10"));
        bob.service->judgeSender({stranger.key(), bob.key(), QStringLiteral("ann@example.org"), false},
                                 QStringLiteral("127.0.0.1"));

        const auto answerTo = [&bob](End &from) {
            Client control(from, PeerChannel::Control, bob.base);
            if (!control.waitConnected() || !QTest::qWaitFor([&] { return bob.service->call().status().encrypted(); }))
                return CallSecurity::Answer::Refuse;
            const CallSecurity::Answer answer = bob.service->call().answerFor(1, false);
            control.port.setConnected(false);
            (void)QTest::qWaitFor([&] { return bob.ipdControl.connectionIds().isEmpty(); });
            return answer;
        };
        QCOMPARE(answerTo(stranger), CallSecurity::Answer::AskWithoutAuto);
        QCOMPARE(answerTo(ann), CallSecurity::Answer::Ask);
        End carol(QStringLiteral("carol@example.org"));
        QCOMPARE(answerTo(carol), CallSecurity::Answer::Ask);

        // Plain from an address never seen encrypted: as the option says; from Ann's, whom
        // a call remembered there, never by itself.
        // The prompt's note is a warning only where encryption was had before.
        SecurityBadge badge;
        SecurityNote note(QStringLiteral("lblSecurityNote"));
        SecurityIndicators indicators(bob.service->call(), badge);
        indicators.follow(&note);
        bool warned = false;
        const auto plainAnswer = [&bob, &note, &warned] {
            RawClient plain(bob.base);
            if (!plain.waitConnected() || !QTest::qWaitFor([&] { return !bob.ipdControl.connectionIds().isEmpty(); }))
                return CallSecurity::Answer::Refuse;
            const CallSecurity::Answer answer = bob.service->call().answerFor(bob.ipdControl.connectionIds().first(), false);
            warned = note.isWarning();
            plain.socket.abort();
            (void)QTest::qWaitFor([&] { return bob.ipdControl.connectionIds().isEmpty(); });
            return answer;
        };
        QCOMPARE(plainAnswer(), CallSecurity::Answer::Ask);
        QVERIFY(!warned);
        bob.service->knownPeers().remember(QStringLiteral("ann@example.org"), ann.key(), QStringLiteral("127.0.0.1"));
        QCOMPARE(plainAnswer(), CallSecurity::Answer::AskWithoutAuto);
        QVERIFY(warned);
    }

};

QTEST_MAIN(TestSecureKeys)
#include "tst_securekeys.moc"
