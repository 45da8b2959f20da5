#include "reach/IceModule.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

IceModule::IceModule(QStringList folders)
    : m_folders(std::move(folders))
{
}

QStringList IceModule::defaultFolders()
{
    QStringList folders;
    const QString own = QCoreApplication::applicationDirPath();
    if (!own.isEmpty()) {
        folders << own;
#ifdef ZELMO_ICE_MODULE_FROM_BINDIR
        folders << QDir::cleanPath(own + QLatin1Char('/') + QStringLiteral(ZELMO_ICE_MODULE_FROM_BINDIR));
#endif
    }
#ifdef ZELMO_ICE_MODULE_BUILD_DIR
    folders << QStringLiteral(ZELMO_ICE_MODULE_BUILD_DIR);
#endif
    folders.removeDuplicates();
    return folders;
}

bool IceModule::load()
{
    if (m_tried)
        return m_make != nullptr;
    m_tried = true;
    QStringList looked;
    for (const QString &folder : std::as_const(m_folders)) {
        const QString path = QDir(folder).filePath(QString::fromLatin1(FileName));
        if (!QFileInfo::exists(path)) {
            looked << folder;
            continue;
        }
        m_library.setFileName(path);
        if (!m_library.load()) {
            m_failure = QStringLiteral("the ICE module %1 could not be loaded: %2").arg(path, m_library.errorString());
            return false;
        }
        m_make = reinterpret_cast<IceAgentMaker>(m_library.resolve(IceAgentMakerName));
        if (!m_make) {
            m_failure = QStringLiteral("%1 is not an ICE module of this program").arg(path);
            m_library.unload();
            return false;
        }
        return true;
    }
    m_failure = QStringLiteral("the ICE module %1 was not found (looked in %2)")
                    .arg(QString::fromLatin1(FileName), looked.isEmpty() ? QStringLiteral("no folder") : looked.join(QStringLiteral(", ")));
    return false;
}

std::unique_ptr<IceAgent> IceModule::make(const IceAgent::Config &config, IceAgent::Events &events, QString &why)
{
    if (!load()) {
        why = m_failure;
        return nullptr;
    }
    std::string reason;
    std::unique_ptr<IceAgent> agent(m_make(IceAgent::InterfaceVersion, config, events, reason));
    if (!agent)
        why = QString::fromStdString(reason);
    return agent;
}
