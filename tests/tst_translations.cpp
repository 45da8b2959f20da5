#include "support/TestSupport.h"
#include "ui/UiLanguage.h"
#include "ui/frmMain.h"

#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>

namespace {

// The languages there are translation files for ("de" for zelmo_de.ts).
QStringList languages()
{
    QStringList found;
    const QDir folder(QStringLiteral(ZELMO_SOURCE_DIR "/translations"));
    for (const QString &file : folder.entryList({QStringLiteral("zelmo_*.ts")}))
        found << file.mid(6, file.size() - 9);
    return found;
}

QString readAll(const QString &path)
{
    return QString::fromUtf8(TestSupport::readBytes(path));
}

QStringList placeholders(const QString &text)
{
    static const QRegularExpression mark(QStringLiteral("%[1-9]"));
    QStringList found;
    for (auto it = mark.globalMatch(text); it.hasNext();)
        found << it.next().captured();
    found.sort();
    found.removeDuplicates();
    return found;
}

// The accelerator letter of a caption ("&Datei": "d"), empty when it has none.
QString mnemonic(const QString &caption)
{
    const qsizetype at = caption.indexOf(QLatin1Char('&'));
    return at >= 0 && at + 1 < caption.size() ? caption.mid(at + 1, 1).toLower() : QString();
}

// Two items of one menu with the same accelerator letter, listed as "menu: a / b".
QStringList clashes(const QString &where, const QList<QAction *> &items)
{
    QStringList found;
    QHash<QString, QString> taken;
    for (const QAction *item : items) {
        const QString letter = mnemonic(item->text());
        if (letter.isEmpty())
            continue;
        if (taken.contains(letter))
            found << where + QStringLiteral(": ") + taken[letter] + QStringLiteral(" / ") + item->text();
        taken[letter] = item->text();
        if (item->menu())
            found << clashes(item->text(), item->menu()->actions());
    }
    return found;
}

} // namespace

// The German and Spanish translations against the sources, as lupdate reads them.
class TestTranslations : public QObject
{
    Q_OBJECT

private slots:
    void everyTextIsTranslatedAndNoneIsLeftOver()
    {
        QTemporaryDir dir;
        QStringList arguments{QStringLiteral("-locations"), QStringLiteral("none"), QStringLiteral("-I"),
                              QStringLiteral(ZELMO_SOURCE_DIR "/src"), QStringLiteral("@" ZELMO_TRANSLATED_SOURCES),
                              QStringLiteral("-ts")};
        const QStringList languageList = languages();
        QVERIFY(languageList.contains(QStringLiteral("de")) && languageList.contains(QStringLiteral("es")));
        for (const QString &language : languageList) {
            const QString copy = dir.filePath(QStringLiteral("zelmo_%1.ts").arg(language));
            QVERIFY(QFile::copy(QStringLiteral(ZELMO_SOURCE_DIR "/translations/zelmo_%1.ts").arg(language), copy));
            arguments << copy;
        }
        QProcess lupdate;
        lupdate.start(QStringLiteral(ZELMO_LUPDATE), arguments);
        QVERIFY(lupdate.waitForFinished(120000));
        QVERIFY2(lupdate.exitCode() == 0, lupdate.readAllStandardError().constData());

        // New texts come in unfinished, texts gone from the sources stay as vanished.
        QStringList problems;
        for (const QString &language : languageList) {
            QXmlStreamReader ts(readAll(dir.filePath(QStringLiteral("zelmo_%1.ts").arg(language))));
            QString context, source;
            while (!ts.atEnd()) {
                if (ts.readNext() != QXmlStreamReader::StartElement)
                    continue;
                if (ts.name() == QLatin1String("name")) {
                    context = ts.readElementText();
                } else if (ts.name() == QLatin1String("source")) {
                    source = ts.readElementText();
                } else if (ts.name() == QLatin1String("translation")) {
                    const QString type = ts.attributes().value(QLatin1String("type")).toString();
                    const QString text = ts.readElementText();
                    QString fault = type;
                    if (fault.isEmpty() && text.isEmpty())
                        fault = QStringLiteral("empty");
                    else if (fault.isEmpty() && placeholders(text) != placeholders(source))
                        fault = QStringLiteral("placeholders differ: ") + text;
                    if (!fault.isEmpty())
                        problems << QStringLiteral("%1 %2: \"%3\" (%4)").arg(language, context, source, fault);
                }
            }
            QVERIFY2(!ts.hasError(), qPrintable(ts.errorString()));
        }
        QVERIFY2(problems.isEmpty(), qPrintable(QStringLiteral("\n") + problems.join(QLatin1Char('\n'))));
    }

    // Captions handed to the windows as plain literals never reach the translations.
    void noWindowTextIsLeftUnmarked()
    {
        static const QRegularExpression caption(
            QStringLiteral("(?:setWindowTitle|setText|setToolTip|setAccessibleName|setAccessibleDescription|"
                           "setPlaceholderText|setTitle|addTab|addItem|new QLabel|new QCheckBox|new QPushButton|"
                           "new QGroupBox|new QRadioButton|button)\\((?:[^()]*, *)?QStringLiteral\\(\"([^\"]*)\"\\)"));
        static const QRegularExpression words(QStringLiteral("[A-Za-z]{2,}"));
        QStringList unmarked;
        const QDir ui(QStringLiteral(ZELMO_SOURCE_DIR "/src/ui"));
        for (const QString &file : ui.entryList({QStringLiteral("*.cpp"), QStringLiteral("*.h")})) {
            // The test hook's commands are read by programs, not by people.
            if (file.startsWith(QLatin1String("TestHook")))
                continue;
            const QString code = readAll(ui.filePath(file));
            for (auto it = caption.globalMatch(code); it.hasNext();) {
                const QString text = it.next().captured(1);
                if (text.contains(words) && text != QLatin1String("ZELMO"))
                    unmarked << file + QStringLiteral(": ") + text;
            }
        }
        QVERIFY2(unmarked.isEmpty(), qPrintable(QStringLiteral("\n") + unmarked.join(QLatin1Char('\n'))));
    }

    // Each menu's accelerator letters are its own in every language.
    void theMenusKeepTheirAcceleratorsApart()
    {
        for (const QString &language : languages()) {
            const UiLanguage speaking{QLocale(language)};
            QCOMPARE(speaking.language(), language);
            frmMain window;
            const QStringList found = clashes(language, window.menuBar()->actions());
            QVERIFY2(found.isEmpty(), qPrintable(found.join(QLatin1Char('\n'))));
        }
    }
};

QTEST_MAIN(TestTranslations)
#include "tst_translations.moc"
