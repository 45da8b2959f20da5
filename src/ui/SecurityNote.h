#pragma once

#include <QLabel>

// One line in a call's window about its encryption: plain words, in red when the peer's key
// is not the one remembered for it; hidden when there is nothing to say.
class SecurityNote : public QLabel
{
    Q_OBJECT

public:
    explicit SecurityNote(const QString &objectName, QWidget *parent = nullptr);

    void showNote(const QString &text, bool warning);
    bool isWarning() const { return m_warning; }

private:
    bool m_warning = false;
};
