#pragma once

#include "core/RuntimeModule.h"
#include "media/sound/VoiceProcessing.h"

#include <QString>
#include <QStringList>

#include <memory>

// Where the microphone's processing comes from: the module zelmo-voice.so, opened when the
// first sound is processed, so that a program that only waits for calls never loads the
// library. It stays loaded from then on. A module that is missing or of another version makes
// nothing; the reason says which and where it was looked for.
class VoiceModule
{
public:
    static constexpr char FileName[] = "zelmo-voice.so";

    // Looks in `folders`, in order: by default RuntimeModule::defaultFolders().
    explicit VoiceModule(QStringList folders = RuntimeModule::defaultFolders());

    // Null when the module cannot be had or the processor not made, with `why` said.
    std::unique_ptr<VoiceProcessing> make(int rate, QString &why);

private:
    RuntimeModule m_module;
};
