#include "call/CallPrompt.h"
#include "call/ConnectProgress.h"

#include "support/TestSupport.h"

using Action = CallPrompt::Action;
using namespace Qt::StringLiterals;

namespace {

// One letter per second: '.' nothing, 'c' countdown, 'D' auto-decline, 'A' auto-accepted
// close. Countdown texts are collected in `texts`.
QString run(CallPrompt &prompt, int seconds, QStringList *texts = nullptr)
{
    QString trace;
    for (int i = 0; i < seconds; ++i) {
        const CallPrompt::Tick t = prompt.tick();
        trace += t.action == Action::None            ? u'.'
                 : t.action == Action::Countdown     ? u'c'
                 : t.action == Action::AutoDecline   ? u'D'
                                                     : u'A';
        if (texts && t.action == Action::Countdown)
            texts->append(t.text);
    }
    return trace;
}

QString countdown(int from)
{
    QStringList texts;
    for (int s = from; s >= 1; --s)
        texts.append(u"Auto-Declining Call in %1 Seconds."_s.arg(s));
    return texts.join(u'|');
}

ConnectProgress::Output tickN(ConnectProgress &p, int n, ConnectState state)
{
    ConnectProgress::Output out;
    for (int i = 0; i < n; ++i)
        out = p.tick(state, false);
    return out;
}

} // namespace

class TestCallState : public QObject
{
    Q_OBJECT

private slots:
    void promptDeclinesByItself()
    {
        // Ticks go on after the close (a timer not yet stopped): still one decline.
        QStringList texts;
        CallPrompt twenty(false, false, 20);
        QCOMPARE(run(twenty, 30, &texts), u"..........cccccccccD.........."_s);
        QCOMPARE(texts.join(u'|'), countdown(9));
        QVERIFY(twenty.isFinished());

        texts.clear();
        CallPrompt five(false, false, 5);
        QCOMPARE(run(five, 8, &texts), u"ccccD..."_s);
        QCOMPARE(texts.join(u'|'), countdown(4));

        for (qint16 t : {qint16(1), qint16(0), qint16(-3), qint16(-32768)}) {
            CallPrompt prompt(false, false, t);
            QCOMPARE(run(prompt, 5), u"D...."_s); // never "in -1 Seconds." forever
        }
        QCOMPARE(CallPrompt::autoDeclineLogLine(u"Ann"_s, u"Oslo"_s),
                 u"Auto-Declined call from: Ann, Oslo"_s);
    }

    void autoAcceptedPromptOnlyCloses()
    {
        // Decline times shorter than the five seconds on screen or overlapping them with
        // a countdown: an accepted call is neither declined nor counted down.
        for (qint16 decline : {qint16(0), qint16(3), qint16(8), qint16(20)}) {
            for (const auto &[autoAccept, once] :
                 {std::pair{true, false}, std::pair{false, true}, std::pair{true, true}}) {
                CallPrompt prompt(autoAccept, once, decline);
                QVERIFY(prompt.autoAccepted());
                QCOMPARE(run(prompt, 30), u"....A"_s + QString(25, u'.'));
            }
        }
        QVERIFY(!CallPrompt(false, false, 20).autoAccepted());
    }

    void tickCounterSaturates()
    {
        CallPrompt accepted(true, false, 20);
        QCOMPARE(run(accepted, 40000).count(u'A'), 1);
        QCOMPARE(accepted.promptTicks(), qint16(32767));

        // The longest decline time is reached once, with a sane countdown.
        CallPrompt longest(false, false, 32767);
        QStringList texts;
        const QString trace = run(longest, 40000, &texts);
        QCOMPARE(trace.indexOf(u'D'), 32766);
        QCOMPARE(trace.count(u'D'), 1);
        QCOMPARE(texts.join(u'|'), countdown(9));
        QCOMPARE(longest.promptTicks(), qint16(32767));
    }

    // The text of each state, and when the progress window closes.
    void progressTextsPerStateAndWhenTheWindowCloses()
    {
        const QList<std::tuple<ConnectState, QString, bool>> table = {
            {ConnectState::Establishing, u"Establishing Connection..."_s, false},
            {ConnectState::Requesting, u"Connection Made...Requesting"_s, false},
            {ConnectState::Refused, u"Connection Response is NO"_s, true},
            {ConnectState::Accepted, u"Connection Response is YES"_s, false},
            {ConnectState::Busy, u"Busy"_s, true},
            {ConnectState::Canceled, u"Connection Canceled"_s, false},
            {ConnectState::DidNotAnswer, u"Did Not Answer"_s, true},
            {ConnectState::LookingUpEmail, u"Looking up Email Address"_s, false},
            {ConnectState::EmailNotFound, u"Email address not found"_s, true},
            {ConnectState::CouldNotConnect, u"could not connect"_s, true},
        };
        for (const auto &[state, text, over] : table) {
            ConnectProgress p;
            const auto out = p.tick(state, false);
            QCOMPARE(out.statusText, text);
            QCOMPARE(out.attemptOver, over);
            QCOMPARE(out.close, state == ConnectState::Canceled);
        }
        ConnectProgress p;
        QVERIFY(p.tick(ConnectState::NoAttempt, false).statusText.isNull());
        QVERIFY(p.tick(ConnectState(7), false).statusText.isNull());

        // A cancel closes the window and ends the tick; an accepted call closes it once up.
        ConnectProgress cancelled;
        tickN(cancelled, 2, ConnectState::Establishing);
        const auto out = cancelled.tick(ConnectState::Canceled, false);
        QVERIFY(out.close);
        QCOMPARE(out.frame, -1);
        QCOMPARE(cancelled.frame(), 2);
        ConnectProgress accepted;
        QVERIFY(!accepted.tick(ConnectState::Accepted, false).close);
        QVERIFY(accepted.tick(ConnectState::Accepted, true).close);
    }

    void secondsAndAnimationWhileConnecting()
    {
        ConnectProgress p;
        QCOMPARE(ConnectProgress::initialSecondsText(), u"0 sec"_s);
        QList<int> frames;
        QStringList seconds;
        for (int i = 0; i < 10; ++i) {
            const auto out = p.tick(i < 5 ? ConnectState::Establishing : ConnectState::Requesting,
                                    false);
            frames.append(out.frame);
            seconds.append(out.secondsText.isNull() ? u"-"_s : out.secondsText);
        }
        QCOMPARE(frames, (QList<int>{1, 2, 3, 4, 5, 6, 7, 0, 1, 2}));
        QCOMPARE(seconds.join(u','), u"-,-,-,1 sec,-,-,-,2 sec,-,-"_s);
        QCOMPARE(tickN(p, 18, ConnectState::Requesting).secondsText, u"7 sec"_s);
    }

    void finishedAttemptShowsIdleAndTheAnimationRestsAtZero()
    {
        for (ConnectState end : {ConnectState::Refused, ConnectState::Busy,
                                 ConnectState::DidNotAnswer, ConnectState::EmailNotFound}) {
            ConnectProgress p;
            QCOMPARE(tickN(p, 3, ConnectState::Requesting).frame, 3);
            auto out = p.tick(end, false);
            QCOMPARE(out.secondsText, u"IDLE"_s);
            QCOMPARE(out.frame, 4);
            QCOMPARE(tickN(p, 4, end).frame, 0); // runs on to frame 0 ...
            for (int i = 0; i < 12; ++i) {
                out = p.tick(end, false); // ... and stays there
                QCOMPARE(out.frame, -1);
                QVERIFY(!out.close);
            }
            QCOMPARE(out.secondsText, u"IDLE"_s);
            QCOMPARE(p.frame(), 0);
        }
    }

};

QTEST_APPLESS_MAIN(TestCallState)
#include "tst_callstate.moc"
