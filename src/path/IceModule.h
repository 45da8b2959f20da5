#pragma once

#include "core/RuntimeModule.h"
#include "path/IceAgent.h"

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

    // Null when the module cannot be had, with `why` said.
    std::unique_ptr<IceAgent> make(const IceAgent::Config &config, IceAgent::Events &events, QString &why);

    bool isLoaded() const { return m_module.isLoaded(); }

    static QStringList defaultFolders() { return RuntimeModule::defaultFolders(); }

private:
    RuntimeModule m_module;
};
