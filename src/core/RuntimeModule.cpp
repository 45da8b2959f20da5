#include "core/RuntimeModule.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

RuntimeModule::RuntimeModule(const char *fileName, QString what, const char *maker, QStringList folders)
    : m_fileName(QString::fromLatin1(fileName)), m_what(std::move(what)), m_makerName(maker), m_folders(std::move(folders))
{
}

QStringList RuntimeModule::defaultFolders()
{
    QStringList folders;
    const QString own = QCoreApplication::applicationDirPath();
    if (!own.isEmpty()) {
        folders << own;
#ifdef ZELMO_MODULE_FROM_BINDIR
        folders << QDir::cleanPath(own + QLatin1Char('/') + QStringLiteral(ZELMO_MODULE_FROM_BINDIR));
#endif
    }
#ifdef ZELMO_MODULE_BUILD_DIR
    folders << QStringLiteral(ZELMO_MODULE_BUILD_DIR);
#endif
    folders.removeDuplicates();
    return folders;
}

bool RuntimeModule::load()
{
    if (m_tried)
        return m_maker != nullptr;
    m_tried = true;
    QStringList looked;
    for (const QString &folder : std::as_const(m_folders)) {
        const QString path = QDir(folder).filePath(m_fileName);
        if (!QFileInfo::exists(path)) {
            looked << folder;
            continue;
        }
        m_library.setFileName(path);
        if (!m_library.load()) {
            m_failure = QStringLiteral("%1 %2 could not be loaded: %3").arg(m_what, path, m_library.errorString());
            return false;
        }
        m_maker = m_library.resolve(m_makerName);
        if (!m_maker) {
            m_failure = QStringLiteral("%1 is not %2 of this program").arg(path, m_what);
            m_library.unload();
            return false;
        }
        return true;
    }
    m_failure = QStringLiteral("%1 %2 was not found (looked in %3)")
                    .arg(m_what, m_fileName, looked.isEmpty() ? QStringLiteral("no folder") : looked.join(QStringLiteral(", ")));
    return false;
}

QFunctionPointer RuntimeModule::maker(QString &why)
{
    if (!load())
        why = m_failure;
    return m_maker;
}
