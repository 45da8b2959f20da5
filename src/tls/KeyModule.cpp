#include "tls/KeyModule.h"

KeyModule::KeyModule(QStringList folders)
    : m_module(FileName, QStringLiteral("the key module"), KeyMakerGetterName, std::move(folders))
{
}

const KeyMaker *KeyModule::maker(QString &why)
{
    // The module remembers why it could not be had; a module of another version says so again.
    if (!m_maker) {
        if (const auto getter = reinterpret_cast<KeyMakerGetter>(m_module.maker(why)))
            m_maker = getter(KeyMaker::InterfaceVersion, why);
    }
    return m_maker;
}
