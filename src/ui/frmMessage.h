#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The information window: every information message of the program is shown here.
// Showing another message while it is open replaces the text.
class frmMessage : public QDialog
{
    Q_OBJECT

public:
    explicit frmMessage(QWidget *parent = nullptr);

    void showText(const QString &text);
    QString text() const;

signals:
    // The user pressed OK; the window closes after the handlers ran.
    void confirmed();

protected:
    frmMessage(const QString &objectName, const QString &caption, const QPixmap &picture,
               QWidget *parent);

private:
    QLabel *m_text;
};
