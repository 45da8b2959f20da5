#pragma once

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
};
