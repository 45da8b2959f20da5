#pragma once

#include "core/RuntimeModule.h"
#include "share/ScreenStream.h"

#include <QString>
#include <QStringList>

#include <memory>

// Where the desktop's screen streams come from: the module zelmo-screenstream.so, opened
// when the user first shares through the desktop, so that a program that never does never
// loads PipeWire. It stays loaded from then on. A module that is missing or of another
// version makes no stream; the reason says which and where it was looked for.
class ScreenStreamModule
{
public:
    static constexpr char FileName[] = "zelmo-screenstream.so";

    // Looks in `folders`, in order: by default RuntimeModule::defaultFolders().
    explicit ScreenStreamModule(QStringList folders = RuntimeModule::defaultFolders());

    // Opens the module unless it is open: whether streams can be made, with `why` when not.
    bool open(QString &why);
    // Null when the module cannot be had, with `why` said.
    std::unique_ptr<ScreenStream> make(ScreenStream::Events &events, QString &why);

private:
    RuntimeModule m_module;
};
