#include "ui/SecurityOptionsGroup.h"

#include "secure/SecurityService.h"

#include <QCheckBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

SecurityOptionsGroup::SecurityOptionsGroup(SecurityService &security, QWidget *parent)
    : QGroupBox(tr("Encryption"), parent)
    , m_security(security)
{
    setObjectName(QStringLiteral("fraEncryption"));
    m_onlyEncrypted = new QCheckBox(tr("Only accept and place encrypted calls"), this);
    m_onlyEncrypted->setObjectName(QStringLiteral("chkOnlyEncrypted"));
    m_onlyEncrypted->setToolTip(tr("Calls with older versions of ZELMO, which cannot encrypt, are refused both ways"));
    m_key = new QLabel(this);
    m_key->setObjectName(QStringLiteral("lblOwnKey"));
    m_key->setWordWrap(true);
    m_key->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPalette p = m_key->palette();
    p.setColor(QPalette::WindowText, p.color(QPalette::PlaceholderText));
    m_key->setPalette(p);
    auto *column = new QVBoxLayout(this);
    column->addWidget(m_onlyEncrypted);
    column->addWidget(m_key);
    connect(m_onlyEncrypted, &QCheckBox::toggled, &m_security, &SecurityService::setOnlyEncrypted);
    load();
}

void SecurityOptionsGroup::load()
{
    const QSignalBlocker quiet(m_onlyEncrypted);
    m_onlyEncrypted->setChecked(m_security.onlyEncrypted());
    const QByteArray key = m_security.identity().fingerprint().toHex();
    QStringList groups;
    for (int i = 0; i + 4 <= key.size() && groups.size() < 8; i += 4)
        groups << QString::fromLatin1(key.mid(i, 4));
    m_key->setText(key.isEmpty() ? tr("Calls are not encrypted: this program has no key.")
                                 : tr("Calls between two ZELMOs of this version are encrypted. Your key: %1 ...")
                                       .arg(groups.join(QLatin1Char(' '))));
}
