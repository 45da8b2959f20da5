#include "support/PacketCapture.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QStandardPaths>
#include <QtEndian>

#include <csignal>
#include <sys/prctl.h>

namespace {

constexpr quint32 LinkEthernet = 1;
constexpr quint32 LinkCooked = 113;
constexpr quint32 LinkCooked2 = 276;

quint16 big16(const char *p)
{
    return qFromBigEndian<quint16>(p);
}

} // namespace

PacketCapture::~PacketCapture()
{
    stop();
}

QString PacketCapture::program()
{
    const QString found = QStandardPaths::findExecutable(QStringLiteral("tcpdump"));
    return found.isEmpty()
               ? QStandardPaths::findExecutable(QStringLiteral("tcpdump"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")})
               : found;
}

bool PacketCapture::start(const QStringList &where, const QString &filter, const QString &file, QString *why)
{
    const QString tcpdump = program();
    if (tcpdump.isEmpty()) {
        *why = QStringLiteral("tcpdump is not installed (scripts/deps.sh installs it)");
        return false;
    }
    m_file = file;
    // Every link of the machine, whole packets, each written as it comes; it stays root, or
    // it could not write into the test's folder.
    const QStringList command = where
                                + QStringList{tcpdump, QStringLiteral("-i"), QStringLiteral("any"), QStringLiteral("-n"),
                                              QStringLiteral("-U"), QStringLiteral("-Z"), QStringLiteral("root"),
                                              QStringLiteral("-s"), QStringLiteral("0"), QStringLiteral("-w"), file, filter};
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardInputFile(QProcess::nullDevice());
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    m_process.start(command.value(0), command.mid(1));
    if (!m_process.waitForStarted(10000)) {
        *why = QStringLiteral("tcpdump did not start: ") + m_process.errorString();
        return false;
    }
    QByteArray said;
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && !said.contains("listening on")) {
        if (m_process.waitForFinished(50))
            break;
        said += m_process.readAll();
    }
    said += m_process.readAll();
    if (!said.contains("listening on") || m_process.state() == QProcess::NotRunning) {
        *why = QStringLiteral("tcpdump did not record: ") + QString::fromLocal8Bit(said);
        return false;
    }
    return true;
}

void PacketCapture::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    // SIGTERM lets it write what it holds and close the file.
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool PacketCapture::flows(QList<Flow> *flows, QString *why) const
{
    flows->clear();
    QFile file(m_file);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("cannot read the recording %1: %2").arg(m_file, file.errorString());
        return false;
    }
    const QByteArray all = file.readAll();
    // The file's header: its byte order, and the kind of link its packets start with.
    if (all.size() < 24) {
        *why = QStringLiteral("the recording %1 has no header").arg(m_file);
        return false;
    }
    const quint32 magic = qFromLittleEndian<quint32>(all.constData());
    bool little;
    if (magic == 0xa1b2c3d4 || magic == 0xa1b23c4d)
        little = true;
    else if (qFromBigEndian<quint32>(all.constData()) == 0xa1b2c3d4 || qFromBigEndian<quint32>(all.constData()) == 0xa1b23c4d)
        little = false;
    else {
        *why = QStringLiteral("%1 is not a recording tcpdump writes").arg(m_file);
        return false;
    }
    const auto word = [&](qsizetype at) {
        return little ? qFromLittleEndian<quint32>(all.constData() + at) : qFromBigEndian<quint32>(all.constData() + at);
    };
    const quint32 link = word(20);
    qsizetype linkHeader;
    qsizetype typeAt;
    switch (link) {
    case LinkEthernet:
        linkHeader = 14;
        typeAt = 12;
        break;
    case LinkCooked:
        linkHeader = 16;
        typeAt = 14;
        break;
    case LinkCooked2:
        linkHeader = 20;
        typeAt = 0;
        break;
    default:
        *why = QStringLiteral("the recording's link type %1 is not known here").arg(link);
        return false;
    }
    QHash<QString, qsizetype> index;
    qsizetype at = 24;
    while (at + 16 <= all.size()) {
        const qsizetype captured = word(at + 8);
        const qsizetype start = at + 16;
        at = start + captured;
        if (at > all.size())
            break;  // the last packet was cut by the recording's end
        if (captured < linkHeader + 20 || big16(all.constData() + start + typeAt) != 0x0800)
            continue;
        const char *ip = all.constData() + start + linkHeader;
        const qsizetype ipRoom = captured - linkHeader;
        const qsizetype ipHeader = (uchar(ip[0]) & 0x0f) * 4;
        const qsizetype total = qMin<qsizetype>(big16(ip + 2), ipRoom);
        const int protocol = uchar(ip[9]);
        if ((uchar(ip[0]) >> 4) != 4 || ipHeader < 20 || total < ipHeader + 8 || (protocol != 6 && protocol != 17))
            continue;
        const char *transport = ip + ipHeader;
        const qsizetype transportHeader = protocol == 17 ? 8 : (uchar(transport[12]) >> 4) * 4;
        if (total < ipHeader + transportHeader)
            continue;
        const QString key = QStringLiteral("%1 %2:%3 > %4:%5")
                                .arg(protocol == 17 ? QStringLiteral("udp") : QStringLiteral("tcp"),
                                     QHostAddress(qFromBigEndian<quint32>(ip + 12)).toString())
                                .arg(big16(transport))
                                .arg(QHostAddress(qFromBigEndian<quint32>(ip + 16)).toString())
                                .arg(big16(transport + 2));
        auto found = index.constFind(key);
        if (found == index.cend()) {
            found = index.insert(key, flows->size());
            flows->append(Flow{key, 0, {}});
        }
        Flow &flow = (*flows)[*found];
        ++flow.packets;
        flow.payload += QByteArray(transport + transportHeader, total - ipHeader - transportHeader);
    }
    return true;
}
