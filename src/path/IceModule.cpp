#include "path/IceModule.h"

IceModule::IceModule(QStringList folders)
    : m_module(FileName, QStringLiteral("the ICE module"), IceAgentMakerName, std::move(folders))
{
}

std::unique_ptr<IceAgent> IceModule::make(const IceAgent::Config &config, IceAgent::Events &events, QString &why)
{
    const auto make = reinterpret_cast<IceAgentMaker>(m_module.maker(why));
    if (!make)
        return nullptr;
    std::string reason;
    std::unique_ptr<IceAgent> agent(make(IceAgent::InterfaceVersion, config, events, reason));
    if (!agent)
        why = QString::fromStdString(reason);
    return agent;
}
