#include "ui/SecurityBadge.h"

#include "ui/Artwork.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

SecurityBadge::SecurityBadge(QWidget *parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("pnlSecurity"));
    setAutoFillBackground(false);
    setStyleSheet(QStringLiteral("#pnlSecurity { background: rgba(16, 20, 18, 190); border-radius: 3px; }"
                                 "#lblShortCode { color: white; }"
                                 "#lblShortCode[warn=\"true\"] { color: #ffb040; font-weight: bold; }"));
    m_lock = new QLabel(this);
    m_lock->setObjectName(QStringLiteral("imgLock"));
    m_way = new QLabel(this);
    m_way->setObjectName(QStringLiteral("lblCallWay"));
    m_way->setStyleSheet(QStringLiteral("color: #c8d0cc;"));
    m_way->hide();
    m_text = new QLabel(this);
    m_text->setObjectName(QStringLiteral("lblShortCode"));
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_text->setWordWrap(true);
    m_codecs = new QLabel(this);
    m_codecs->setObjectName(QStringLiteral("lblCodecs"));
    m_codecs->setStyleSheet(QStringLiteral("color: #c8d0cc;"));
    m_codecs->hide();
    m_verify = new QPushButton(tr("Mark as verified"), this);
    m_verify->setObjectName(QStringLiteral("cmdVerified"));
    m_verify->setToolTip(tr("The other person read you the same four words: nobody is in between"));
    m_verify->setFocusPolicy(Qt::TabFocus);
    // The formats go on a line of their own under the words: beside them, at the smallest
    // picture, they squeezed the words into a column and were cut off themselves.
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(4, 2, 4, 2);
    grid->setHorizontalSpacing(5);
    grid->setVerticalSpacing(0);
    grid->addWidget(m_lock, 0, 0);
    grid->addWidget(m_way, 0, 1);
    grid->addWidget(m_text, 0, 2);
    grid->addWidget(m_verify, 0, 3);
    grid->addWidget(m_codecs, 1, 1, 1, 2);
    grid->setColumnStretch(2, 1);
    connect(m_verify, &QPushButton::clicked, this, &SecurityBadge::verifyRequested);
    clear();
}

void SecurityBadge::clear()
{
    m_text->clear();
    hide();
    emit changed();
}

void SecurityBadge::showPlain(const QString &text)
{
    m_lock->setPixmap(Artwork::lock(false));
    m_lock->setAccessibleName(tr("Not encrypted"));
    m_text->setText(text);
    m_text->setProperty("warn", false);
    m_text->setToolTip(text);
    m_verify->hide();
    setToolTip(text);
    style()->polish(m_text);
    show();
    raise();
    emit changed();
}

void SecurityBadge::showEncrypted(const QString &shortCode, const QString &standing, bool canVerify, bool warn)
{
    m_lock->setPixmap(Artwork::lock(true));
    m_lock->setAccessibleName(tr("Encrypted"));
    m_text->setText(canVerify ? shortCode : shortCode + QStringLiteral(" (") + standing + QLatin1Char(')'));
    m_text->setProperty("warn", warn);
    const QString tip = tr("Encrypted call, %1. Read these words to the other person: when theirs are the same, "
                           "nobody is in between.")
                            .arg(standing);
    m_text->setToolTip(tip);
    setToolTip(tip);
    m_verify->setVisible(canVerify);
    style()->polish(m_text);
    show();
    raise();
    emit changed();
}

void SecurityBadge::setWay(const QString &way)
{
    m_way->setText(way);
    m_way->setAccessibleName(way.isEmpty() ? QString() : tr("The call goes %1").arg(way));
    m_way->setVisible(!way.isEmpty());
    emit changed();
}

void SecurityBadge::setCodecs(const QString &codecs)
{
    m_codecs->setText(codecs);
    m_codecs->setAccessibleName(codecs.isEmpty() ? QString() : tr("Picture and sound: %1").arg(codecs));
    m_codecs->setVisible(!codecs.isEmpty());
    emit changed();
}

QString SecurityBadge::codecs() const
{
    return m_codecs->text();
}

QString SecurityBadge::way() const
{
    return m_way->text();
}

QString SecurityBadge::text() const
{
    return m_text->text();
}
