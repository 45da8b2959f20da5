#include "ui/frmCallIn.h"

#include "call/CallControl.h"
#include "core/Settings.h"
#include "ui/Announcement.h"
#include "ui/CallerPanel.h"
#include "ui/SecurityNote.h"
#include "ui/WindowPlacement.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QShortcut>
#include <QTimer>

frmCallIn::frmCallIn(Settings &settings, CallControl &calls, QWidget *parent)
    : CallDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint)
    , m_settings(settings)
    , m_calls(calls)
{
    setObjectName(QStringLiteral("frmCallIn"));
    setWindowTitle(tr("ZELMO Incoming Call..."));
    setAttribute(Qt::WA_DeleteOnClose);
    // A call comes while the user types elsewhere: the prompt shows on top but leaves the
    // keyboard where it is, so a key meant for another program never answers it.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setModal(false);

    m_caller = new CallerPanel(CallerPanel::Bold::Name, this);
    m_caller->message()->setText(CallPrompt::askText());
    m_caller->message()->setMinimumWidth(250);
    // Made inside the panel, in the order the keyboard goes through them.
    m_yes = new QPushButton(tr("Yes"), m_caller);
    m_yes->setObjectName(QStringLiteral("cmdCallYes"));
    m_yes->setDefault(true);
    m_no = new QPushButton(tr("No"), m_caller);
    m_no->setObjectName(QStringLiteral("cmdCallNo"));
    m_autoAccept = new QCheckBox(tr("Auto Accept"), m_caller);
    m_autoAccept->setObjectName(QStringLiteral("chkAutoAccept"));
    m_autoAccept->setChecked(m_settings.AutoAccept);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_autoAccept);
    buttons->addStretch();
    buttons->addWidget(m_yes);
    buttons->addWidget(m_no);
    m_securityNote = new SecurityNote(QStringLiteral("lblCallSecurity"), m_caller);
    m_caller->addRow(m_securityNote);
    m_caller->addRow(buttons);
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(m_caller);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_yes, &QPushButton::clicked, this, &frmCallIn::answer);
    connect(m_no, &QPushButton::clicked, this, &frmCallIn::decline);
    for (auto [key, act] : {std::pair{answerKey(), &frmCallIn::answer}, std::pair{refuseKey(), &frmCallIn::decline}}) {
        auto *shortcut = new QShortcut(key, this);
        shortcut->setContext(Qt::ApplicationShortcut);
        connect(shortcut, &QShortcut::activated, this, act);
    }
    m_yes->setToolTip(answerKey().toString(QKeySequence::NativeText));
    m_no->setToolTip(refuseKey().toString(QKeySequence::NativeText));
    m_tmrCloseMe = new QTimer(this);
    m_tmrCloseMe->setObjectName(QStringLiteral("tmrCloseMe"));
    m_tmrCloseMe->setInterval(1000);
    connect(m_tmrCloseMe, &QTimer::timeout, this, &frmCallIn::onTick);
    m_tmrCloseMe->start();
}

void frmCallIn::offer(const QString &name, const QString &location, bool autoAccepted)
{
    reopen();
    m_tmrCloseMe->start();
    // Whether it was accepted by itself is the call control's word: a call it kept for the
    // user to decide counts down like any other.
    m_prompt.emplace(autoAccepted, false, m_settings.AutoDecTime);
    m_caller->message()->setText(autoAccepted ? CallPrompt::autoAcceptingText() : CallPrompt::askText());
    m_yes->setVisible(!autoAccepted);
    m_no->setVisible(!autoAccepted);
    m_caller->setCaller(name, location);
    // Styled at its final size (a warning's bold words are wider) before it is placed.
    ensurePolished();
    adjustSize();
    WindowPlacement::topRight(this);
    show();
    raise();
    Announcement::alert(this, autoAccepted ? tr("Call from %1, %2, accepted by itself").arg(name, location)
                                           : tr("Incoming call from %1, %2. %3 answers, %4 refuses")
                                                 .arg(name, location, answerKey().toString(QKeySequence::NativeText),
                                                      refuseKey().toString(QKeySequence::NativeText)));
}

void frmCallIn::answer()
{
    // An auto-accepted prompt has no question left to answer.
    if (m_yes->isHidden())
        return;
    m_calls.acceptOffered();
    close();
}

void frmCallIn::decline()
{
    if (m_no->isHidden())
        return;
    m_calls.declineOffered();
    close();
}

void frmCallIn::onTick()
{
    if (!m_prompt)
        return;
    const CallPrompt::Tick tick = m_prompt->tick();
    switch (tick.action) {
    case CallPrompt::Action::CloseAutoAccepted:
        close();
        break;
    case CallPrompt::Action::AutoDecline:
        m_calls.autoDeclineOffered(m_caller->name(), m_caller->location());
        close();
        break;
    case CallPrompt::Action::Countdown:
        m_caller->message()->setText(tick.text);
        break;
    case CallPrompt::Action::None:
        break;
    }
}

void frmCallIn::resizeEvent(QResizeEvent *event)
{
    CallDialog::resizeEvent(event);
    // A note about the caller's key may grow the prompt after it was placed: one that sat
    // at the screen's right edge stays there rather than running off it.
    if (!isVisible() || !event->oldSize().isValid())
        return;
    const int frame = frameGeometry().width() - width();
    const int oldRight = frameGeometry().left() + event->oldSize().width() + frame - 1;
    if (oldRight == WindowPlacement::screenArea(this).right())
        WindowPlacement::topRight(this);
}

void frmCallIn::closing()
{
    m_tmrCloseMe->stop();
    // Ticking the box in the prompt changes the setting; an auto-answered prompt has used
    // up the one automatic answer of a command-line start.
    m_settings.AutoAccept = m_autoAccept->isChecked();
    if (m_prompt && m_prompt->autoAccepted())
        m_calls.setAnswerNextCall(false);
}


