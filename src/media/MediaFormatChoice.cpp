#include "media/MediaFormatChoice.h"

MediaFormatChoice::MediaFormatChoice(QString settingsPath, QObject *parent)
    : QObject(parent)
    , m_path(std::move(settingsPath))
{
}

void MediaFormatChoice::load()
{
    m_settings.load(m_path);
}

void MediaFormatChoice::setPublishedOnly(bool on)
{
    if (m_settings.PublishedFormatsOnly == on)
        return;
    m_settings.PublishedFormatsOnly = on;
    QString error;
    if (!m_settings.save(m_path, &error))
        emit saveFailed(tr("The choice of picture and sound formats could not be saved: %1").arg(error));
}
