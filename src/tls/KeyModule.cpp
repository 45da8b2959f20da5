#include "tls/KeyModule.h"

KeyModule::KeyModule(QStringList folders)
    : m_module(FileName, QStringLiteral("the key module"), KeyMakerGetterName, std::move(folders))
{
}

const KeyMaker *KeyModule::maker(QString &why)
{
    if (m_maker)
        return m_maker;
    if (m_failure.isEmpty()) {
        QString failure;
        if (const auto getter = reinterpret_cast<KeyMakerGetter>(m_module.maker(failure)))
            m_maker = getter(KeyMaker::InterfaceVersion, failure);
        if (!m_maker)
            m_failure = failure.isEmpty() ? QStringLiteral("the key module gave no functions") : failure;
    }
    if (!m_maker)
        why = m_failure;
    return m_maker;
}
