#pragma once

#include <QList>
#include <QLocale>
#include <QString>
#include <QUrl>

// The help book: HTML pages in the program's resources. The contents page lists the
// topics in reading order; each topic has a title, sections (headings with anchors) and
// keywords (a "keywords" meta line, separated by ";"), from which the topic index is made.
class HelpBook
{
public:
    struct Section
    {
        QString title;
        QUrl url;
    };
    struct Topic
    {
        QString title;
        QUrl url;
        QList<Section> sections;
        QString text; // the page's words, for searching
    };
    struct IndexEntry
    {
        QString keyword;
        QUrl url;
        QString topicTitle;
    };

    // root is a folder of pages holding "index.html", the contents page.
    explicit HelpBook(const QString &root = QStringLiteral(":/help"));
    // The book in the locale's language (":/help/de"), or the English one (":/help") when
    // the program has no pages in that language.
    static QString localizedRoot(const QLocale &locale = QLocale::system());

    QUrl contentsUrl() const;
    const QList<Topic> &topics() const { return m_topics; }
    // Every keyword and section title, sorted alphabetically (case ignored).
    const QList<IndexEntry> &index() const { return m_index; }

    // Index entries with every word typed in their keyword, those starting with the typed
    // text first; an empty text gives the whole index.
    QList<IndexEntry> findInIndex(const QString &typed) const;
    // Topics whose text holds every word typed.
    QList<Topic> findInText(const QString &typed) const;

private:
    QUrl pageUrl(const QString &file) const;

    QString m_root;
    QList<Topic> m_topics;
    QList<IndexEntry> m_index;
};
