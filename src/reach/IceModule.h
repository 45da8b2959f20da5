#pragma once

#include "reach/IceAgent.h"

#include <QLibrary>
#include <QString>
#include <QStringList>

#include <memory>

// Where ICE agents come from: the module holding the ICE library, loaded the first time an
// agent is wanted, so that a program that never needs a path through routers never loads
// it and the dozens of libraries it pulls in. It stays loaded for the rest of the program's
// life (agents being closed still run its code). A module that is missing or of another
// version makes no agent; the reason says which and where it was looked for.
class IceModule
{
public:
    // The module's file name.
    static constexpr char FileName[] = "zelmo-ice.so";

    // Looks in `folders`, in order: by default defaultFolders().
    explicit IceModule(QStringList folders = defaultFolders());
    IceModule(const IceModule &) = delete;
    IceModule &operator=(const IceModule &) = delete;

    // Null when the module cannot be had, with `why` said.
    std::unique_ptr<IceAgent> make(const IceAgent::Config &config, IceAgent::Events &events, QString &why);

    bool isLoaded() const { return m_make != nullptr; }

    // Beside the executable; where the installed package puts it, relative to the
    // executable's folder; and where this build made it.
    static QStringList defaultFolders();

private:
    bool load();

    QStringList m_folders;
    QLibrary m_library;
    IceAgentMaker m_make = nullptr;
    bool m_tried = false;
    QString m_failure;
};
