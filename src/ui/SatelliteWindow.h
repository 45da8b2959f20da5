#pragma once

#include <QWidget>

// A window that lives for the whole run: the user's close only hides it (and says so, so
// the main window can uncheck its menu item); the program's own shutdown closes it.
class SatelliteWindow : public QWidget
{
    Q_OBJECT

public:
    explicit SatelliteWindow(QWidget *parent = nullptr);

    void allowClose() { m_closing = true; }

signals:
    void hiddenByUser();

protected:
    void closeEvent(QCloseEvent *event) override;
    // Runs when the program closes the window for good, at exit.
    virtual void unloading() {}

private:
    bool m_closing = false;
};
