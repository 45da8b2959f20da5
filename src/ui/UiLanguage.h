#pragma once

#include <QLocale>
#include <QTranslator>

// The language the windows speak: the program's own translation for the user's locale
// (LANGUAGE, LC_ALL, LC_MESSAGES, LANG), built into the program, and Qt's translation of
// its standard buttons and dialogs when the system has it installed. Installed for as long
// as this object lives; English, the texts in the code, when there is no translation.
class UiLanguage
{
public:
    explicit UiLanguage(const QLocale &locale = QLocale::system());
    ~UiLanguage();
    UiLanguage(const UiLanguage &) = delete;
    UiLanguage &operator=(const UiLanguage &) = delete;

    // The translation's language ("de"), or empty when the windows speak English.
    QString language() const { return m_language; }

private:
    QTranslator m_program;
    QTranslator m_qt;
    QString m_language;
};
