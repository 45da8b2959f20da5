#include "media/sound/VoiceModule.h"

VoiceModule::VoiceModule(QStringList folders)
    : m_module(FileName, QStringLiteral("the voice processing module"), VoiceProcessingMakerName, std::move(folders))
{
}

std::unique_ptr<VoiceProcessing> VoiceModule::make(int rate, QString &why)
{
    const auto make = reinterpret_cast<VoiceProcessingMaker>(m_module.maker(why));
    if (!make)
        return nullptr;
    return std::unique_ptr<VoiceProcessing>(make(VoiceProcessing::InterfaceVersion, rate, why));
}
