#include "ui/UiLanguage.h"

#include <QCoreApplication>
#include <QLibraryInfo>

UiLanguage::UiLanguage(const QLocale &locale)
{
    if (m_program.load(locale, QStringLiteral("zelmo"), QStringLiteral("_"), QStringLiteral(":/translations"))) {
        QCoreApplication::installTranslator(&m_program);
        m_language = m_program.language();
        // Qt's own texts (the standard buttons' OK, Cancel...) only beside ours, so a user
        // never sees a window half in a language ZELMO does not speak.
        if (m_qt.load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QCoreApplication::installTranslator(&m_qt);
    }
}

UiLanguage::~UiLanguage()
{
    QCoreApplication::removeTranslator(&m_qt);
    QCoreApplication::removeTranslator(&m_program);
}
