#include "media/DatagramModule.h"

DatagramModule::DatagramModule(QStringList folders)
    : m_module(FileName, QStringLiteral("the datagram media module"), DatagramSessionMakerName, std::move(folders))
{
}

bool DatagramModule::open(QString &why)
{
    return m_module.maker(why) != nullptr;
}

std::unique_ptr<DatagramSession> DatagramModule::make(const QByteArray &sendKey, const QByteArray &receiveKey,
                                                      DatagramSession::Events &events, QString &why)
{
    const auto make = reinterpret_cast<DatagramSessionMaker>(m_module.maker(why));
    if (!make)
        return nullptr;
    return std::unique_ptr<DatagramSession>(make(DatagramSession::InterfaceVersion, sendKey, receiveKey, events, why));
}
