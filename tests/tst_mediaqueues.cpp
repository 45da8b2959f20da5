#include "media/AudioPlayQueue.h"
#include "media/AudioSendQueue.h"
#include "media/OutgoingTextQueue.h"

#include "support/TestSupport.h"

// A block whose bytes tell which one it was.
static QByteArray blockBytes(int n)
{
    return QByteArray::number(n) + QByteArray(33, char(n));
}

class TestMediaQueues : public QObject
{
    Q_OBJECT

private slots:
    void fullTextQueueRefusesAndLosesNothing()
    {
        OutgoingTextQueue queue;
        for (int i = 1; i <= 29; ++i)
            QVERIFY(queue.push(QByteArray::number(i)));
        QVERIFY(!queue.push("30"));
        for (int i = 1; i <= 29; ++i) {
            QCOMPARE(queue.front(), QByteArray::number(i));
            queue.pop();
        }
        QVERIFY(queue.isEmpty());
        queue.pop(); // must not run the read index past the write index
        QCOMPARE(queue.textReadIndex(), 30);
        QCOMPARE(queue.textWriteIndex(), 30);

        QVERIFY(queue.push(QByteArray(32001, 'a')));
        QCOMPARE(queue.textWriteIndex(), 1);
        QVERIFY(queue.push("after the wrap"));
        QCOMPARE(queue.front(), QByteArray(32000, 'a'));
        queue.pop();
        QCOMPARE(queue.textReadIndex(), 1);
        QCOMPARE(queue.front(), QByteArray("after the wrap"));

        queue.reset();
        QVERIFY(queue.isEmpty());
        QCOMPARE(queue.textWriteIndex(), 1);
        QCOMPARE(queue.textReadIndex(), 1);
    }

    void audioSendIndicesWrap()
    {
        AudioSendQueue queue;
        for (int i = 1; i <= 59; ++i)
            queue.record(blockBytes(i));
        for (int i = 1; i <= 59; ++i) {
            QCOMPARE(queue.front().bytes(), blockBytes(i));
            queue.pop();
        }
        QVERIFY(!queue.hasWaiting());
        queue.record(blockBytes(60));
        queue.record(blockBytes(61));
        QCOMPARE(queue.audioRecordIndex(), 2);
        QCOMPARE(queue.front().bytes(), blockBytes(60));
        queue.pop();
        QCOMPARE(queue.audioSendIndex(), 1);
        QCOMPARE(queue.front().bytes(), blockBytes(61));
    }

    void heldRecordingOverwritesTheLastBlock()
    {
        AudioSendQueue queue;
        queue.setHold(true);
        for (int i = 1; i <= 65; ++i)
            queue.record(blockBytes(i));
        QCOMPARE(queue.audioRecordIndex(), 60);
        QCOMPARE(queue.block(60).bytes(), blockBytes(65));
        int played = 0;
        for (; queue.hasWaiting(); queue.pop())
            QCOMPARE(queue.front().bytes(), blockBytes(++played));
        QCOMPARE(played, 59);
        queue.rewind();
        QCOMPARE(queue.front().bytes(), blockBytes(1));

        QByteArray big(2500, 'g');
        big[1999] = 'l';
        queue.record(big);
        QCOMPARE(queue.block(60).bytes(), big.left(2000));
        AudioBlock block;
        block.count = 5000; // an engine that miscounts cannot make us read past the area
        QCOMPARE(block.bytes().size(), 2000);
    }

    void playQueueKeepsTheNewestInEntry60()
    {
        AudioPlayQueue queue;
        for (int i = 1; i <= 61; ++i)
            queue.push(blockBytes(i));
        QCOMPARE(queue.audioPlayCount(), 60);
        QCOMPARE(queue.block(59).bytes(), blockBytes(59));
        QCOMPARE(queue.block(60).bytes(), blockBytes(61));
        queue.clear();
        queue.push(blockBytes(7));
        QCOMPARE(queue.audioPlayCount(), 1);
        QCOMPARE(queue.block(1).bytes(), blockBytes(7));
    }
};

QTEST_APPLESS_MAIN(TestMediaQueues)
#include "tst_mediaqueues.moc"
