#pragma once

#include <QGroupBox>

class QCheckBox;
class QLabel;
class SecurityService;

// The options' "Encryption" group: whether only encrypted calls may be placed and
// answered, this program's key as peers see it, the directory servers' keys it has
// pinned, and moving the key to another computer. The choice applies at once.
class SecurityOptionsGroup : public QGroupBox
{
    Q_OBJECT

public:
    explicit SecurityOptionsGroup(SecurityService &security, QWidget *parent = nullptr);

    // Shows the choice as it is now.
    void load();

private:
    void exportKey();
    void importKey();
    // A passphrase typed by the user; empty when cancelled.
    QString askPassphrase(const QString &title, const QString &text);

    SecurityService &m_security;
    QLabel *m_directoryKey;
    QCheckBox *m_onlyEncrypted;
    QLabel *m_key;
};
