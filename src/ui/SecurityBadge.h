#pragma once

#include <QFrame>

class QLabel;
class QPushButton;

// The call's encryption on the main window, along the foot of the incoming picture: a
// closed lock with the short code the two users read to each other and a button to mark
// the peer as verified, or an open lock that says why the call is not encrypted.
class SecurityBadge : public QFrame
{
    Q_OBJECT

public:
    explicit SecurityBadge(QWidget *parent = nullptr);

    // Nothing to show: no call.
    void clear();
    void showPlain(const QString &text);
    // `standing` follows the code in the tooltip and the text; `warn` marks a key that is
    // not the one remembered for the peer.
    void showEncrypted(const QString &shortCode, const QString &standing, bool canVerify, bool warn);

    QString text() const;
    // How the call reached the peer, beside the lock ("" shows nothing).
    void setWay(const QString &way);
    QString way() const;
    // The call's picture and sound formats, after the short code ("" shows nothing).
    void setCodecs(const QString &codecs);
    QString codecs() const;

signals:
    void verifyRequested();
    // What it shows changed, and with it perhaps the height it needs.
    void changed();

private:
    QLabel *m_lock;
    QLabel *m_text;
    QLabel *m_way;
    QLabel *m_codecs;
    QPushButton *m_verify;
};
