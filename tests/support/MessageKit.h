#pragma once

// The pieces of the quick-message scenarios: a program with test devices, a relay that
// keeps the bytes going each way between a sender and a listener, and a bare sender.

#include "support/RawClient.h"
#include "support/Windows.h"
#include "messages/MessageComposer.h"
#include "messages/QuickMessageProtocol.h"


namespace MessageKit {

// One ZELMO with its windows, the test camera and sound, and a user number when one is
// given.
struct Party : RunningProgram
{
    explicit Party(const QString &name, qint32 userNumber = -1, QStringList datagramModuleFolders = {})
        : RunningProgram(name, Options{.windows = true,
                                       .location = QStringLiteral("Room ") + name,
                                       .email = name + QStringLiteral("@example.org"),
                                       .userNumber = userNumber,
                                       .datagramModuleFolders = std::move(datagramModuleFolders)})
    {
    }
    MessageService &messages() { return program->messages(); }
    // A composer as a compose window makes one, sending as this user.
    MessageComposer::Context composing(std::function<qint32()> number = {})
    {
        PalService &pals = program->pals();
        if (!number)
            number = [&pals] { return pals.userNumber(); };
        Program *p = program.get();
        return {program->messageMedia(), settings(), std::move(number),
                [p](IPPort &client) { p->prepareMessageClient(client); }};
    }
    int messagePort() const { return port + 2; }
    // The window of this kind that an action opens; none when it opens none.
    template<typename T>
    T *opens(const std::function<void()> &action)
    {
        const QList<T *> before = main()->findChildren<T *>();
        action();
        for (T *w : main()->findChildren<T *>()) {
            if (!before.contains(w))
                return w;
        }
        return nullptr;
    }
    // The oldest waiting message, opened as a double click on the indicator opens it.
    frmMsgIn *openOldest()
    {
        return opens<frmMsgIn>([this] { QTest::mouseDClick(window<QWidget>("imgMsgIn"), Qt::LeftButton); });
    }
};

// Sits between a sender and a listener: a sender told to reach base() reaches the
// listener, and every byte passing either way is kept.
struct Relay
{
    QTcpServer listener;
    QPointer<QTcpSocket> fromSender;
    QPointer<QTcpSocket> toListener;
    QByteArray toReceiver; // what the sender sent
    QByteArray toSender;   // what the listener answered
    bool listenerClosed = false;
    bool senderClosed = false;

    explicit Relay(int listenerPort)
    {
        // The sender adds 2 to the base port it is given.
        const int block = TestSupport::portBlock(3);
        if (!listener.listen(QHostAddress::LocalHost, quint16(block + 2)))
            qFatal("the relay could not listen");
        QObject::connect(&listener, &QTcpServer::newConnection, [this, listenerPort] {
            fromSender = listener.nextPendingConnection();
            toListener = new QTcpSocket(&listener);
            QTcpSocket *a = fromSender;
            QTcpSocket *b = toListener;
            QObject::connect(a, &QTcpSocket::readyRead, [this, a, b] {
                const QByteArray bytes = a->readAll();
                toReceiver += bytes;
                b->write(bytes);
            });
            QObject::connect(b, &QTcpSocket::readyRead, [this, a, b] {
                const QByteArray bytes = b->readAll();
                toSender += bytes;
                a->write(bytes);
            });
            QObject::connect(b, &QTcpSocket::disconnected, [this, a] {
                listenerClosed = true;
                a->disconnectFromHost();
            });
            QObject::connect(a, &QTcpSocket::disconnected, [this, b] {
                senderClosed = true;
                b->disconnectFromHost();
            });
            b->connectToHost(QHostAddress::LocalHost, quint16(listenerPort));
        });
    }
    int base() const { return listener.serverPort() - 2; }
};

// A whole text-only message from a bare sender, as a ZELMO sends it; false when the
// listener did not take it.
inline bool sendWhole(int port, qint32 number, const QByteArray &text, const QByteArray &name = "Raw",
                      const QByteArray &email = "raw@x.org")
{
    RawClient s(port);
    if (!QTest::qWaitFor([&] { return s.connected() || s.closed; }, 5000) || s.closed)
        return false;
    s.send("MSR;" + QByteArray::number(number) + ";<E>");
    if (!QTest::qWaitFor([&] { return s.received == "MRA;<E>" || s.closed; }, 5000) || s.closed)
        return false;
    s.send("MSB;" + QuickMessageProtocol::paddedNumber(number) + ';' + name + ';' + email + ";Lab;now;" + text
           + ";<E>");
    if (!QTest::qWaitFor([&] { return s.received.size() == 14 || s.closed; }, 5000))
        return false;
    s.send("MSE;<E>");
    return QTest::qWaitFor([&] { return s.closed; }, 5000);
}

} // namespace MessageKit
