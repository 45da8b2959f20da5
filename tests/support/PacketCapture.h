#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

// A recording of what passes a machine's network, by tcpdump on all of its links, to a
// file; then the payloads of the IPv4 UDP and TCP packets it holds, one flow (addresses,
// ports, protocol) at a time, so that a text cut across TCP segments is found whole.
class PacketCapture
{
public:
    PacketCapture() = default;
    ~PacketCapture();
    PacketCapture(const PacketCapture &) = delete;
    PacketCapture &operator=(const PacketCapture &) = delete;

    // The tcpdump program, empty when it is not installed.
    static QString program();

    // Records what `filter` (tcpdump's expression) lets through on the machine `where`
    // names into `file`; waits until it records.
    bool start(const QStringList &where, const QString &filter, const QString &file, QString *why);
    // Ends the recording; the file is complete after it.
    void stop();

    struct Flow
    {
        QString key;
        qint64 packets = 0;
        QByteArray payload;
    };
    // The flows of the recording, in the order they began; false when the file is not a
    // recording this can read.
    bool flows(QList<Flow> *flows, QString *why) const;

private:
    QProcess m_process;
    QString m_file;
};
