#pragma once

#include "core/ChannelSecurity.h"

#include <QByteArray>
#include <QList>
#include <QString>

// One quick message as the receiver keeps it until the user reads it.
struct QuickMessage
{
    qint32 senderNumber = -1;
    QString senderName;
    QString senderEmail;
    QString senderLocation;
    // The remote address of the connection it came on, as dotted digits.
    QString senderHost;
    QString sentAt;
    QString text;
    // The compressed thumbnail; empty when the message has none.
    QByteArray picture;
    // Compressed sound blocks in order; empty when the message has no sound.
    QList<QByteArray> audioBlocks;
    // How the connection it came on was encrypted (not at all: empty keys), and how the
    // sender's key stood with what this program remembered of it.
    ChannelSecurity security;
    PeerStanding senderStanding = PeerStanding::Unknown;
};
