#include "ui/frmHelp.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QTextBrowser>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int UrlRole = Qt::UserRole;

QToolButton *navigationButton(const char *name, const QString &text, QStyle::StandardPixmap icon, QWidget *parent)
{
    auto *b = new QToolButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setText(text);
    b->setIcon(parent->style()->standardIcon(icon));
    b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    b->setAutoRaise(true);
    return b;
}

} // namespace

frmHelp::frmHelp(QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_book(HelpBook::localizedRoot())
{
    setObjectName(QStringLiteral("frmHelp"));
    setWindowTitle(tr("ZELMO Help"));
    resize(760, 520);

    m_back = navigationButton("cmdBack", tr("Back"), QStyle::SP_ArrowBack, this);
    m_forward = navigationButton("cmdForward", tr("Forward"), QStyle::SP_ArrowForward, this);
    auto *home = navigationButton("cmdContents", tr("Contents"), QStyle::SP_DirHomeIcon, this);
    auto *bar = new QHBoxLayout;
    bar->setSpacing(2);
    bar->addWidget(m_back);
    bar->addWidget(m_forward);
    bar->addWidget(home);
    bar->addStretch();

    m_contents = new QTreeWidget(this);
    m_contents->setObjectName(QStringLiteral("tvwContents"));
    m_contents->setHeaderHidden(true);
    m_contents->setAccessibleName(tr("Contents"));

    auto *finder = new QWidget(this);
    m_find = new QLineEdit(finder);
    m_find->setObjectName(QStringLiteral("txtFind"));
    m_find->setPlaceholderText(tr("Type a word"));
    m_find->setClearButtonEnabled(true);
    auto *findLabel = new QLabel(tr("&Type the word you are looking for:"), finder);
    findLabel->setBuddy(m_find);
    findLabel->setWordWrap(true);
    m_found = new QListWidget(finder);
    m_found->setObjectName(QStringLiteral("lstTopics"));
    m_found->setAccessibleName(tr("Topics found"));
    auto *finderColumn = new QVBoxLayout(finder);
    finderColumn->setContentsMargins(4, 4, 4, 4);
    finderColumn->addWidget(findLabel);
    finderColumn->addWidget(m_find);
    finderColumn->addWidget(m_found, 1);

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("tabHelp"));
    m_tabs->addTab(m_contents, tr("Contents"));
    m_tabs->addTab(finder, tr("Index"));

    m_page = new QTextBrowser(this);
    m_page->setObjectName(QStringLiteral("txtHelp"));
    m_page->setOpenExternalLinks(true);
    m_page->setAccessibleName(tr("Help page"));

    auto *split = new QSplitter(Qt::Horizontal, this);
    split->addWidget(m_tabs);
    split->addWidget(m_page);
    split->setStretchFactor(1, 1);
    split->setSizes({220, 540});

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(bar);
    layout->addWidget(split, 1);

    connect(m_back, &QToolButton::clicked, m_page, &QTextBrowser::backward);
    connect(m_forward, &QToolButton::clicked, m_page, &QTextBrowser::forward);
    connect(home, &QToolButton::clicked, this, &frmHelp::showContents);
    connect(m_page, &QTextBrowser::backwardAvailable, m_back, &QToolButton::setEnabled);
    connect(m_page, &QTextBrowser::forwardAvailable, m_forward, &QToolButton::setEnabled);
    m_back->setEnabled(false);
    m_forward->setEnabled(false);
    connect(m_contents, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem *item) { m_page->setSource(item->data(0, UrlRole).toUrl()); });
    connect(m_contents, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem *item) { m_page->setSource(item->data(0, UrlRole).toUrl()); });
    connect(m_find, &QLineEdit::textChanged, this, &frmHelp::fillFinder);
    connect(m_find, &QLineEdit::returnPressed, this, &frmHelp::openFound);
    connect(m_found, &QListWidget::itemActivated, this, [this] { openFound(); });
    connect(m_found, &QListWidget::itemClicked, this, [this] { openFound(); });
    m_find->installEventFilter(this);

    fillContents();
    fillFinder({});
    m_page->setSource(m_book.contentsUrl());
}

void frmHelp::fillContents()
{
    for (const HelpBook::Topic &topic : m_book.topics()) {
        auto *item = new QTreeWidgetItem(m_contents, {topic.title});
        item->setData(0, UrlRole, topic.url);
        for (const HelpBook::Section &section : topic.sections) {
            auto *child = new QTreeWidgetItem(item, {section.title});
            child->setData(0, UrlRole, section.url);
        }
    }
}

void frmHelp::fillFinder(const QString &typed)
{
    m_found->clear();
    const QList<HelpBook::IndexEntry> entries = m_book.findInIndex(typed);
    for (const HelpBook::IndexEntry &e : entries) {
        auto *item = new QListWidgetItem(e.keyword, m_found);
        item->setData(UrlRole, e.url);
        item->setToolTip(e.topicTitle);
    }
    // No keyword fits: the topics that mention the words.
    if (entries.isEmpty()) {
        for (const HelpBook::Topic &t : m_book.findInText(typed)) {
            auto *item = new QListWidgetItem(tr("Topic: %1").arg(t.title), m_found);
            item->setData(UrlRole, t.url);
        }
    }
    if (m_found->count() > 0)
        m_found->setCurrentRow(0);
}

void frmHelp::openFound()
{
    if (QListWidgetItem *item = m_found->currentItem())
        m_page->setSource(item->data(UrlRole).toUrl());
}

void frmHelp::present()
{
    show();
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
}

void frmHelp::showContents()
{
    m_tabs->setCurrentIndex(0);
    m_page->setSource(m_book.contentsUrl());
    present();
    m_contents->setFocus();
}

void frmHelp::showTopicFinder()
{
    m_tabs->setCurrentIndex(1);
    present();
    m_find->setFocus();
    m_find->selectAll();
}

void frmHelp::showPage(const QString &file, const QString &anchor)
{
    QUrl url = m_book.contentsUrl().resolved(QUrl(file));
    if (!anchor.isEmpty())
        url.setFragment(anchor);
    m_page->setSource(url);
    present();
}

bool frmHelp::eventFilter(QObject *watched, QEvent *event)
{
    // Up and Down in the finder's box walk the list of topics found.
    if (watched == m_find && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if ((key == Qt::Key_Down || key == Qt::Key_Up) && m_found->count() > 0) {
            const int row = std::clamp(m_found->currentRow() + (key == Qt::Key_Down ? 1 : -1), 0, m_found->count() - 1);
            m_found->setCurrentRow(row);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

QUrl frmHelp::currentPage() const
{
    return m_page->source();
}
