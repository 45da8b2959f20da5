#include "support/HomesScene.h"

#include <QDir>
#include <QElapsedTimer>
#include <QThread>

HomesScene::HomesScene(const QString &folder, const QString &binDir, const QString &tag)
    : m_folder(folder)
    , m_binDir(binDir)
    , m_homes(tag)
{
}

HomesScene::~HomesScene()
{
    // The programs run inside the homes: they go before the homes do.
    QString ignored;
    for (ZelmoProcess *peer : {&bob, &ann}) {
        if (peer->isRunning())
            peer->quit(StepMs, &ignored);
    }
    m_directory.stop(StepMs);
}

QString HomesScene::annProfile() const { return QDir(m_folder).filePath(QStringLiteral("ann")); }
QString HomesScene::bobProfile() const { return QDir(m_folder).filePath(QStringLiteral("bob")); }

bool HomesScene::start(TwoHomes::Kind annKind, TwoHomes::Kind bobKind, QString *why)
{
    QDir().mkpath(m_folder);
    if (!m_homes.create(annKind, bobKind, why) || !m_homes.startRelay(m_folder, why))
        return false;
    const QStringList arguments{QStringLiteral("--data"), QDir(m_folder).filePath(QStringLiteral("data")),
                                QStringLiteral("--stats-every"), QStringLiteral("0"), QStringLiteral("--relay"),
                                TwoHomes::InternetAddress + QLatin1Char(':') + QString::number(TurnRelay::Port),
                                QStringLiteral("--relay-secret-file"), m_homes.relay().secretFile()};
    if (!m_directory.start(m_homes.command(TwoHomes::Internet, m_binDir + QStringLiteral("/zelmo-directory"), arguments),
                           QDir(m_folder).filePath(QStringLiteral("directory.log")), StartMs, why)) {
        *why = QStringLiteral("the directory server that hands out the relay did not start: ") + *why;
        return false;
    }
    ZelmoProcess::writeProfile(annProfile(), {QStringLiteral("Ann Alpha"), AnnEmail, TwoHomes::InternetAddress,
                                              QStringLiteral("Home"), false, BobEmail, {}});
    ZelmoProcess::writeProfile(bobProfile(), {QStringLiteral("Bob Beta"), BobEmail, TwoHomes::InternetAddress,
                                              QStringLiteral("Home"), false, AnnEmail, {}});
    if (!ann.startOn(m_homes.on(TwoHomes::HomeA), m_binDir, annProfile(), StartMs, why)
        || !bob.startOn(m_homes.on(TwoHomes::HomeB), m_binDir, bobProfile(), StartMs, why))
        return false;
    // Each got a user number from the pal server: both are logged in there.
    const auto number = [](const QString &profile) {
        QFile file(profile + QStringLiteral("/zelmo.num"));
        return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt() : 0;
    };
    QElapsedTimer clock;
    clock.start();
    while (number(annProfile()) <= 0 || number(bobProfile()) <= 0) {
        if (clock.hasExpired(StepMs)) {
            *why = QStringLiteral("Ann or Bob never logged in to the pal server");
            return false;
        }
        QThread::msleep(100);
    }
    return true;
}

bool HomesScene::call(qint64 *setUpMs, QString *why, int gapMs)
{
    QString answer;
    if (!bob.ask(QStringLiteral("windows"), &answer)) {
        *why = QStringLiteral("Bob's program does not answer: ") + answer;
        return false;
    }
    if (!answer.split(QLatin1Char(' ')).contains(QLatin1String("frmDirectory"))
        && !bob.ask(QStringLiteral("click frmMain cmdtoolbar1"), &answer)) {
        *why = QStringLiteral("Bob could not open the directory window: ") + answer;
        return false;
    }
    // Until the list comes (his own name in it) his program is not logged in there and
    // cannot look an e-mail up. Ann never opens her directory, so she is not listed: the
    // call finds her through her pal login.
    if (!bob.askUntil(QStringLiteral("text frmDirectory lstGlobal"),
                      [](const QString &t) { return t.contains(QLatin1String("Bob Beta")); }, StepMs, &answer, gapMs)) {
        *why = QStringLiteral("Bob's directory list never came (\"%1\")").arg(answer);
        return false;
    }
    // The address stays in the box after a call, as it does for a person calling again.
    if (!bob.ask(QStringLiteral("text frmDirectory txtConnect"), &answer) || (!answer.isEmpty() && answer != AnnEmail)) {
        *why = QStringLiteral("Bob's address box holds \"%1\", not Ann's address").arg(answer);
        return false;
    }
    const QString keys = answer.isEmpty() ? AnnEmail : QString();
    QElapsedTimer clock;
    clock.start();
    if (!bob.ask(QStringLiteral("type frmDirectory txtConnect %1\\n").arg(keys), &answer)) {
        *why = QStringLiteral("Bob could not press Enter: ") + answer;
        return false;
    }
    if (!ann.askUntil(QStringLiteral("text frmCallIn pnlUserName"), [](const QString &t) { return !t.isEmpty(); },
                      ConnectMs, &answer, gapMs)) {
        *why = QStringLiteral("Bob's call never reached Ann behind her router: no call window on her side (%1)").arg(answer);
        return false;
    }
    if (answer != QLatin1String("Bob Beta")) {
        *why = QStringLiteral("Ann's call window names \"%1\", not Bob").arg(answer);
        return false;
    }
    if (!ann.ask(QStringLiteral("click frmCallIn cmdCallYes"), &answer)) {
        *why = QStringLiteral("Ann could not take the call: ") + answer;
        return false;
    }
    const auto inCall = [](const QString &caption) { return caption == QLatin1String("HangUp"); };
    QString annButton;
    QString bobButton;
    const bool annIn = ann.askUntil(QStringLiteral("text frmMain lblcmd0"), inCall, ConnectMs, &annButton, gapMs);
    const bool bobIn = bob.askUntil(QStringLiteral("text frmMain lblcmd0"), inCall, ConnectMs, &bobButton, gapMs);
    if (!annIn || !bobIn) {
        *why = QStringLiteral("Ann took the call but it did not connect: Ann's first button reads \"%1\", Bob's \"%2\"")
                   .arg(annButton, bobButton);
        return false;
    }
    *setUpMs = clock.elapsed();
    return true;
}

bool HomesScene::hangUp(QString *why, int gapMs)
{
    if (!bob.ask(QStringLiteral("click frmMain cmdtoolbar0"), why)) {
        *why = QStringLiteral("Bob could not hang up: ") + *why;
        return false;
    }
    const auto idle = [](const QString &caption) { return caption == QLatin1String("Call"); };
    QString annButton;
    QString bobButton;
    const bool annOut = ann.askUntil(QStringLiteral("text frmMain lblcmd0"), idle, StepMs, &annButton, gapMs);
    const bool bobOut = bob.askUntil(QStringLiteral("text frmMain lblcmd0"), idle, StepMs, &bobButton, gapMs);
    if (!annOut || !bobOut) {
        *why = QStringLiteral("Bob hung up and the call goes on: Ann's first button reads \"%1\", Bob's \"%2\"")
                   .arg(annButton, bobButton);
        return false;
    }
    return true;
}

bool HomesScene::quitBoth(QString *why)
{
    return bob.quit(StepMs, why) && ann.quit(StepMs, why);
}

QString HomesScene::quitAndReadLogs(int lines)
{
    QString ignored;
    for (ZelmoProcess *peer : {&bob, &ann}) {
        if (peer->isRunning())
            peer->quit(StepMs, &ignored);
    }
    return QStringLiteral("\nAnn's log ends:\n  ") + ZelmoProcess::logTail(annProfile(), lines)
           + QStringLiteral("\nBob's log ends:\n  ") + ZelmoProcess::logTail(bobProfile(), lines);
}
