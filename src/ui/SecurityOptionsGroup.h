#pragma once

#include <QGroupBox>

class QCheckBox;
class QLabel;
class SecurityService;

// The options' "Encryption" group: whether only encrypted calls may be placed and
// answered, and this program's key as peers see it. The choice applies at once.
class SecurityOptionsGroup : public QGroupBox
{
    Q_OBJECT

public:
    explicit SecurityOptionsGroup(SecurityService &security, QWidget *parent = nullptr);

    // Shows the choice as it is now.
    void load();

private:
    SecurityService &m_security;
    QCheckBox *m_onlyEncrypted;
    QLabel *m_key;
};
