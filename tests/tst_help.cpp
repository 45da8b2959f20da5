#include "ui/HelpBook.h"

#include "support/TestSupport.h"
#include <QRegularExpression>
#include <QSet>

// The help book shipped in the resources, and the program's pictures.
class TestHelp : public QObject
{
    Q_OBJECT

private slots:
    void everyTopicLoadsAndEveryLinkLeadsSomewhere_data()
    {
        QTest::addColumn<QString>("root");
        QTest::newRow("English") << QStringLiteral(":/help");
        QTest::newRow("German") << QStringLiteral(":/help/de");
        QTest::newRow("Spanish") << QStringLiteral(":/help/es");
    }

    void everyTopicLoadsAndEveryLinkLeadsSomewhere()
    {
        QFETCH(QString, root);
        const HelpBook book(root);
        // A translated book has every page of the English one, under the same names.
        QCOMPARE(book.topics().size(), HelpBook().topics().size());
        QVERIFY(book.topics().size() >= 10);
        QSet<QString> pages{QStringLiteral("index.html")};
        for (const HelpBook::Topic &t : book.topics()) {
            QVERIFY2(!t.title.isEmpty(), qPrintable(t.url.toString()));
            pages.insert(t.url.fileName());
        }
        // Links between pages, with their anchors, all resolve.
        static const QRegularExpression link(QStringLiteral("href=\"([a-z]+\\.html)(?:#([a-z]+))?\""));
        for (const QString &page : std::as_const(pages)) {
            const QString html = QString::fromUtf8(TestSupport::readBytes(root + QLatin1Char('/') + page));
            QVERIFY2(!html.isEmpty(), qPrintable(page));
            auto it = link.globalMatch(html);
            while (it.hasNext()) {
                const auto m = it.next();
                QVERIFY2(pages.contains(m.captured(1)), qPrintable(page + " -> " + m.captured(1)));
                if (m.captured(2).isEmpty())
                    continue;
                const QByteArray target = TestSupport::readBytes(root + QLatin1Char('/') + m.captured(1));
                QVERIFY2(target.contains(QStringLiteral("<a name=\"%1\">").arg(m.captured(2)).toUtf8()),
                         qPrintable(page + " -> " + m.captured(1) + "#" + m.captured(2)));
            }
        }
    }

    void theIndexFindsKeywordsAndTheTextFindsTheRest()
    {
        const HelpBook book;
        const QList<HelpBook::IndexEntry> &index = book.index();
        for (qsizetype i = 1; i < index.size(); ++i)
            QVERIFY(index[i - 1].keyword.compare(index[i].keyword, Qt::CaseInsensitive) <= 0);

        // Keywords that start with the typed text come before those that only contain it.
        const auto talk = book.findInIndex(QStringLiteral("talk"));
        QVERIFY(talk.size() >= 2);
        QVERIFY(talk.first().keyword.startsWith(QStringLiteral("talk"), Qt::CaseInsensitive));
        QCOMPARE(talk.first().url.fileName(), QStringLiteral("incall.html"));
        QVERIFY(std::any_of(talk.begin(), talk.end(),
                            [](const auto &e) { return e.keyword == QStringLiteral("push to talk"); }));
        // Section headings are in the index, with their anchors.
        const auto busy = book.findInIndex(QStringLiteral("second caller"));
        QCOMPARE(busy.size(), 1);
        QCOMPARE(busy.first().url.fragment(), QStringLiteral("busy"));
        // Words typed in any order; nothing for words no page has.
        QVERIFY(!book.findInIndex(QStringLiteral("disturb do")).isEmpty());
        QVERIFY(book.findInIndex(QStringLiteral("xylophone")).isEmpty());
        QVERIFY(book.findInText(QStringLiteral("xylophone")).isEmpty());
        const auto router = book.findInText(QStringLiteral("ROUTER firewall"));
        QCOMPARE(router.size(), 1);
        QCOMPARE(router.first().url.fileName(), QStringLiteral("trouble.html"));
    }
};

QTEST_MAIN(TestHelp)
#include "tst_help.moc"
