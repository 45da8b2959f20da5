#pragma once

#include "ui/HelpBook.h"

#include <QWidget>

class QLineEdit;
class QListWidget;
class QTabWidget;
class QTextBrowser;
class QToolButton;
class QTreeWidget;

// The help window: the help book's pages on the right; on the left its contents and a
// topic finder (type a word, pick a topic). Help, Contents opens it at the contents page,
// Help Topics at the finder.
class frmHelp : public QWidget
{
    Q_OBJECT

public:
    explicit frmHelp(QWidget *parent = nullptr);

    const HelpBook &book() const { return m_book; }
    void showContents();
    void showTopicFinder();
    // Opens a page of the book by its file name ("options.html"), optionally at an anchor.
    void showPage(const QString &file, const QString &anchor = {});
    QUrl currentPage() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void fillContents();
    void fillFinder(const QString &typed);
    void openFound();
    void present();

    HelpBook m_book;
    QTabWidget *m_tabs;
    QTreeWidget *m_contents;
    QLineEdit *m_find;
    QListWidget *m_found;
    QTextBrowser *m_page;
    QToolButton *m_back;
    QToolButton *m_forward;
};
