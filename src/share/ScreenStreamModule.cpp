#include "share/ScreenStreamModule.h"

ScreenStreamModule::ScreenStreamModule(QStringList folders)
    : m_module(FileName, QStringLiteral("the screen stream module"), ScreenStreamMakerName, std::move(folders))
{
}

bool ScreenStreamModule::open(QString &why)
{
    return m_module.maker(why) != nullptr;
}

std::unique_ptr<ScreenStream> ScreenStreamModule::make(ScreenStream::Events &events, QString &why)
{
    const auto make = reinterpret_cast<ScreenStreamMaker>(m_module.maker(why));
    if (!make)
        return nullptr;
    return std::unique_ptr<ScreenStream>(make(ScreenStream::InterfaceVersion, events, why));
}
