#pragma once

#include <QLibrary>
#include <QString>
#include <QStringList>

// One of the program's own modules, opened when first wanted instead of at start, so that a
// program that never needs what it holds never loads it and the libraries it pulls in. Each
// module exports one maker function; once found, the module stays loaded for the rest of
// the program's life (what it made may still run its code). A module that is missing,
// cannot be loaded or lacks its maker gives no function; the reason says which and where it
// was looked for, and the first failure stands (a module is looked for once).
class RuntimeModule
{
public:
    // `fileName` is looked for in `folders`, in order; `what` names it in the reasons
    // ("the ICE module"); `maker` is the symbol it exports.
    RuntimeModule(const char *fileName, QString what, const char *maker, QStringList folders);
    RuntimeModule(const RuntimeModule &) = delete;
    RuntimeModule &operator=(const RuntimeModule &) = delete;

    // The maker, loading the module the first time; null with `why` said.
    QFunctionPointer maker(QString &why);
    bool isLoaded() const { return m_maker != nullptr; }

    // Beside the executable; where the installed package puts the modules, relative to the
    // executable's folder; and where this build made them.
    static QStringList defaultFolders();

private:
    bool load();

    QString m_fileName;
    QString m_what;
    const char *m_makerName;
    QStringList m_folders;
    QLibrary m_library;
    QFunctionPointer m_maker = nullptr;
    bool m_tried = false;
    QString m_failure;
};
