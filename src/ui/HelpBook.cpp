#include "ui/HelpBook.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTextDocumentFragment>

#include <algorithm>

namespace {

QString readPage(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QString plain(const QString &html)
{
    return QTextDocumentFragment::fromHtml(html).toPlainText().simplified();
}

QStringList words(const QString &typed)
{
    return typed.simplified().toLower().split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

bool holdsAll(const QString &text, const QStringList &wanted)
{
    const QString lower = text.toLower();
    return std::all_of(wanted.begin(), wanted.end(), [&](const QString &w) { return lower.contains(w); });
}

} // namespace

HelpBook::HelpBook(const QString &root)
    : m_root(root)
{
    // The pages live in the program's resources, which a static library must load itself.
    Q_INIT_RESOURCE(resources);
    static const QRegularExpression link(QStringLiteral("href=\"([a-z0-9_-]+\\.html)\""));
    static const QRegularExpression title(QStringLiteral("<title>(.*?)</title>"),
                                          QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression keywords(QStringLiteral("<meta name=\"keywords\" content=\"([^\"]*)\""));
    static const QRegularExpression heading(QStringLiteral("<h2[^>]*><a name=\"([^\"]+)\"></a>(.*?)</h2>"),
                                            QRegularExpression::DotMatchesEverythingOption);

    // The topics, in the order the contents page lists them, each once.
    QSet<QString> seen;
    auto it = link.globalMatch(readPage(m_root + QStringLiteral("/index.html")));
    while (it.hasNext()) {
        const QString file = it.next().captured(1);
        if (seen.contains(file))
            continue;
        seen.insert(file);
        const QString html = readPage(m_root + QLatin1Char('/') + file);
        if (html.isEmpty())
            continue;
        Topic topic;
        topic.url = pageUrl(file);
        topic.title = plain(title.match(html).captured(1));
        topic.text = plain(html);
        auto sections = heading.globalMatch(html);
        while (sections.hasNext()) {
            const auto m = sections.next();
            QUrl url = topic.url;
            url.setFragment(m.captured(1));
            topic.sections.append({plain(m.captured(2)), url});
            m_index.append({plain(m.captured(2)), url, topic.title});
        }
        m_index.append({topic.title, topic.url, topic.title});
        for (const QString &k : keywords.match(html).captured(1).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            if (!k.trimmed().isEmpty())
                m_index.append({k.trimmed(), topic.url, topic.title});
        }
        m_topics.append(topic);
    }
    std::stable_sort(m_index.begin(), m_index.end(), [](const IndexEntry &a, const IndexEntry &b) {
        return a.keyword.compare(b.keyword, Qt::CaseInsensitive) < 0;
    });
}

QString HelpBook::localizedRoot(const QLocale &locale)
{
    Q_INIT_RESOURCE(resources);
    // The same order of languages as the translations are looked up in: "de-AT", then "de".
    for (const QString &tag : locale.uiLanguages()) {
        QString name = tag;
        name.replace(QLatin1Char('-'), QLatin1Char('_'));
        for (;;) {
            const QString root = QStringLiteral(":/help/") + name;
            if (QFile::exists(root + QStringLiteral("/index.html")))
                return root;
            const qsizetype cut = name.lastIndexOf(QLatin1Char('_'));
            if (cut <= 0)
                break;
            name.truncate(cut);
        }
    }
    return QStringLiteral(":/help");
}

QUrl HelpBook::pageUrl(const QString &file) const
{
    // Pages in the resources are "qrc:" addresses; a folder on disk gives file addresses.
    if (m_root.startsWith(QLatin1Char(':')))
        return QUrl(QStringLiteral("qrc:") + m_root.mid(1) + QLatin1Char('/') + file);
    return QUrl::fromLocalFile(m_root + QLatin1Char('/') + file);
}

QUrl HelpBook::contentsUrl() const
{
    return pageUrl(QStringLiteral("index.html"));
}

QList<HelpBook::IndexEntry> HelpBook::findInIndex(const QString &typed) const
{
    const QStringList wanted = words(typed);
    if (wanted.isEmpty())
        return m_index;
    const QString start = typed.simplified().toLower();
    QList<IndexEntry> first, then;
    for (const IndexEntry &e : m_index) {
        if (!holdsAll(e.keyword, wanted))
            continue;
        (e.keyword.toLower().startsWith(start) ? first : then).append(e);
    }
    return first + then;
}

QList<HelpBook::Topic> HelpBook::findInText(const QString &typed) const
{
    const QStringList wanted = words(typed);
    QList<Topic> found;
    if (wanted.isEmpty())
        return found;
    for (const Topic &t : m_topics) {
        if (holdsAll(t.text, wanted))
            found.append(t);
    }
    return found;
}
