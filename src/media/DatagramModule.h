#pragma once

#include "core/RuntimeModule.h"
#include "media/DatagramSession.h"

#include <QString>
#include <QStringList>

#include <memory>

// Where datagram sessions come from: the module holding GStreamer's RTP, repair and SRTP,
// opened when a call first agrees on datagrams, so that a program that holds no such call
// never loads GStreamer. It stays loaded for the rest of the program's life. A module that
// is missing or of another version makes no session; the reason says which and where it was
// looked for.
class DatagramModule
{
public:
    // The module's file name.
    static constexpr char FileName[] = "zelmo-datagrams.so";

    // Looks in `folders`, in order: by default RuntimeModule::defaultFolders().
    explicit DatagramModule(QStringList folders = RuntimeModule::defaultFolders());

    // Opens the module unless it is open: whether sessions can be made, with `why` when not.
    bool open(QString &why);
    // Null when the module cannot be had or the session cannot be built, with `why` said.
    std::unique_ptr<DatagramSession> make(const QByteArray &sendKey, const QByteArray &receiveKey,
                                          DatagramSession::Events &events, QString &why);

    bool isLoaded() const { return m_module.isLoaded(); }

private:
    RuntimeModule m_module;
};
