#pragma once

#include <QWidget>

class QLabel;
class QLayout;
class QVBoxLayout;

// Who is calling, as the incoming-call windows show it: the incoming-call picture beside
// the caller's name and place and a line about the call. A window adds its own rows under
// that line.
class CallerPanel : public QWidget
{
    Q_OBJECT

public:
    // Which stands out in bold: the caller's name, or the line about the call.
    enum class Bold { Name, Message };

    explicit CallerPanel(Bold bold, QWidget *parent = nullptr);

    void setCaller(const QString &name, const QString &location);
    QString name() const;
    QString location() const;
    QLabel *message() const { return m_message; }
    void addRow(QWidget *row);
    void addRow(QLayout *row);

private:
    QLabel *m_name;
    QLabel *m_location;
    QLabel *m_message;
    QVBoxLayout *m_column;
};
