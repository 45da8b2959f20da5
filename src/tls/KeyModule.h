#pragma once

#include "core/RuntimeModule.h"
#include "tls/KeyMaker.h"

#include <QString>
#include <QStringList>

// Where new keys and certificates come from: the module zelmo-keys.so, opened the first time
// one is wanted and kept open from then on. A module that is missing or of another version
// gives nothing; the reason says which and where it was looked for.
class KeyModule
{
public:
    static constexpr char FileName[] = "zelmo-keys.so";

    // Looks in `folders`, in order: by default RuntimeModule::defaultFolders().
    explicit KeyModule(QStringList folders = RuntimeModule::defaultFolders());

    // The module's functions, opening it unless it is open; null with `why` said.
    const KeyMaker *maker(QString &why);

private:
    RuntimeModule m_module;
    const KeyMaker *m_maker = nullptr;
};
