#include "ui/SecurityOptionsGroup.h"

#include "secure/DirectoryDialer.h"
#include "secure/SecurityService.h"
#include "tls/TlsSetup.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace {

// The first groups of a fingerprint: enough to compare by eye.
QString shortFingerprint(const QByteArray &key)
{
    return TlsSetup::fingerprintText(key).left(39) + QStringLiteral(" ...");
}

} // namespace

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
    m_directoryKey = new QLabel(this);
    m_directoryKey->setObjectName(QStringLiteral("lblDirectoryKey"));
    m_directoryKey->setWordWrap(true);
    m_directoryKey->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_directoryKey->setPalette(p);
    auto *exportButton = new QPushButton(tr("Export Key..."), this);
    exportButton->setObjectName(QStringLiteral("cmdExportKey"));
    exportButton->setToolTip(tr("Save your key, protected by a passphrase, to move it to another computer"));
    auto *importButton = new QPushButton(tr("Import Key..."), this);
    importButton->setObjectName(QStringLiteral("cmdImportKey"));
    importButton->setToolTip(tr("Use a key exported on another computer: your e-mail address and user number on "
                                "the directory stay yours"));
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(exportButton);
    buttons->addWidget(importButton);
    buttons->addStretch(1);
    auto *column = new QVBoxLayout(this);
    column->addWidget(m_onlyEncrypted);
    column->addWidget(m_key);
    column->addWidget(m_directoryKey);
    column->addLayout(buttons);
    connect(exportButton, &QPushButton::clicked, this, &SecurityOptionsGroup::exportKey);
    connect(importButton, &QPushButton::clicked, this, &SecurityOptionsGroup::importKey);
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
    // One line: the General page is full, and a wrapped line gets cut off there.
    m_key->setText(key.isEmpty() ? tr("Calls are not encrypted: this program has no key.")
                                 : tr("Your key: %1 ...").arg(groups.join(QLatin1Char(' '))));
    m_key->setToolTip(key.isEmpty() ? QString() : tr("Calls between two ZELMOs of this version are encrypted"));
    QStringList servers;
    for (const KnownPeers::Peer &peer : m_security.directoryKeys().peers()) {
        const QString prefix = DirectoryDialer::pinName(QString());
        if (peer.who.startsWith(prefix))
            servers << tr("Directory key: %1 (%2)").arg(shortFingerprint(peer.key), peer.who.mid(prefix.size()));
    }
    m_directoryKey->setText(servers.isEmpty() ? tr("Directory key: none yet; remembered at the first encrypted login")
                                              : servers.join(QLatin1Char('\n')));
}

void SecurityOptionsGroup::exportKey()
{
    const QString file = QFileDialog::getSaveFileName(this, tr("Export Key"), QStringLiteral("zelmo-key.pem"));
    if (file.isEmpty())
        return;
    const QString passphrase = askPassphrase(tr("Export Key"), tr("A passphrase to protect the key:"));
    if (passphrase.isEmpty())
        return;
    const QString problem = m_security.exportKey(file, passphrase);
    if (!problem.isEmpty())
        QMessageBox::warning(this, tr("Export Key"), problem);
}

void SecurityOptionsGroup::importKey()
{
    const QString file = QFileDialog::getOpenFileName(this, tr("Import Key"));
    if (file.isEmpty())
        return;
    const QString passphrase = askPassphrase(tr("Import Key"), tr("The passphrase the key was exported with:"));
    if (passphrase.isEmpty())
        return;
    const QString problem = m_security.importKey(file, passphrase);
    if (!problem.isEmpty())
        QMessageBox::warning(this, tr("Import Key"), problem);
    load();
}

QString SecurityOptionsGroup::askPassphrase(const QString &title, const QString &text)
{
    return QInputDialog::getText(this, title, text, QLineEdit::Password);
}
