// The datagram media module's one export: a DatagramMedia made for DatagramLink, its
// signals passed on as the interface's events.
#include "datagrams/DatagramMedia.h"

#include <memory>

extern "C" __attribute__((visibility("default"))) DatagramSession *
zelmo_make_datagram_session(int version, const QByteArray &sendKey, const QByteArray &receiveKey,
                            DatagramSession::Events &events, QString &why)
{
    if (version != DatagramSession::InterfaceVersion) {
        why = QStringLiteral("the datagram media module was built for interface version %1, the program asks for %2")
                  .arg(DatagramSession::InterfaceVersion)
                  .arg(version);
        return nullptr;
    }
    auto media = std::make_unique<DatagramMedia>(sendKey, receiveKey);
    if (!media->isValid()) {
        why = media->problem();
        return nullptr;
    }
    DatagramMedia *m = media.get();
    QObject::connect(m, &DatagramMedia::datagramReady, m, [&events](const QByteArray &d) { events.datagramToSend(d); });
    QObject::connect(m, &DatagramMedia::videoReceived, m, [&events](const QByteArray &f) { events.pictureFromPeer(f); });
    QObject::connect(m, &DatagramMedia::soundReceived, m,
                     [&events](const QByteArray &packet, int lost) { events.soundFromPeer(packet, lost); });
    QObject::connect(m, &DatagramMedia::firstDatagramTaken, m, [&events] { events.firstDatagramDecrypted(); });
    QObject::connect(m, &DatagramMedia::keyFrameWanted, m, [&events] { events.keyFrameAskedFor(); });
    return media.release();
}
