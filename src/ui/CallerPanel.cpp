#include "ui/CallerPanel.h"

#include "ui/Artwork.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

CallerPanel::CallerPanel(Bold bold, QWidget *parent)
    : QWidget(parent)
{
    auto *picture = new QLabel(this);
    picture->setPixmap(Artwork::incomingCall());
    picture->setAlignment(Qt::AlignTop);
    m_name = new QLabel(this);
    m_name->setObjectName(QStringLiteral("pnlUserName"));
    m_location = new QLabel(this);
    m_location->setObjectName(QStringLiteral("pnlUserLocation"));
    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("lblCallMessage"));
    QLabel *marked = bold == Bold::Name ? m_name : m_message;
    QFont font = marked->font();
    font.setBold(true);
    marked->setFont(font);

    auto *form = new QFormLayout;
    form->addRow(tr("Name:"), m_name);
    form->addRow(tr("From:"), m_location);
    m_column = new QVBoxLayout;
    m_column->addLayout(form);
    m_column->addWidget(m_message);
    auto *layout = new QHBoxLayout(this);
    // The window's own margins frame it.
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(picture);
    layout->addLayout(m_column, 1);
}

void CallerPanel::setCaller(const QString &name, const QString &location)
{
    m_name->setText(name);
    m_location->setText(location);
}

QString CallerPanel::name() const
{
    return m_name->text();
}

QString CallerPanel::location() const
{
    return m_location->text();
}

void CallerPanel::addRow(QWidget *row)
{
    m_column->addWidget(row);
}

void CallerPanel::addRow(QLayout *row)
{
    m_column->addLayout(row);
}
