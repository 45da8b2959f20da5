#pragma once

#include "media/MediaFormatSettings.h"

#include <QObject>

// Whether calls between two programs of this version may use today's picture and sound
// formats: the Video tab's choice, kept in its own file and written as soon as it changes.
// The encrypted channels' handshakes ask it when they start, so a change holds from the
// next call on.
class MediaFormatChoice : public QObject
{
    Q_OBJECT

public:
    explicit MediaFormatChoice(QString settingsPath, QObject *parent = nullptr);

    // Reads the file.
    void load();
    bool publishedOnly() const { return m_settings.PublishedFormatsOnly; }
    // Today's formats may be offered to the peer.
    bool offersCurrent() const { return !m_settings.PublishedFormatsOnly; }
    void setPublishedOnly(bool on);

signals:
    // The choice could not be written; the text says why.
    void saveFailed(const QString &text);

private:
    QString m_path;
    MediaFormatSettings m_settings;
};
