#include "Common/LogError.h"
#include "tests/support/LogCapture.h"

#include <QSet>
#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

class tst_LogError : public QObject
{
    Q_OBJECT

private slots:
    void cutsLongMessagesAtTheBuffer();
    void keepsLinesWholeAcrossThreads();
};

void tst_LogError::cutsLongMessagesAtTheBuffer()
{
    cLogCapture capture;
    LogError("file.cpp", 1, "%s", QByteArray(4 * kLogErrorBufferSize, 'x').constData());
    QCOMPARE(capture.Messages().value(0).size(), kLogErrorBufferSize - 1);
    QVERIFY(capture.Lines().value(0).endsWith("\t(file.cpp:1)\n"));
}

void tst_LogError::keepsLinesWholeAcrossThreads()
{
    // Threads let go together, each writing long lines of its own letter, so that without its lock
    // the log's shared buffers are mixed up in every run. Every line is whole: "ERROR: message\t(file:line)\n".
    cLogCapture capture;
    constexpr int kThreads = 16;
    constexpr int kLinesEach = 400;
    std::atomic<int> waiting{kThreads};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &waiting] {
            const QByteArray filler(kLogErrorBufferSize / 2, char('a' + t));
            for (waiting.fetch_sub(1); waiting.load() > 0;)
                std::this_thread::yield();
            for (int i = 0; i < kLinesEach; ++i)
                LogError("thread.cpp", t, "%d %s %d", t, filler.constData(), i);
        });
    for (std::thread& thread : threads)
        thread.join();
    const QRegularExpression whole("^ERROR: (\\d+) ([a-p])\\2* \\d+\\t\\(thread\\.cpp:\\1\\)\\n$");
    QSet<QString> distinct;
    for (const QString& line : capture.Lines())
    {
        const QRegularExpressionMatch match = whole.match(line);
        QVERIFY2(match.hasMatch() && match.captured(2).at(0).unicode() - 'a' == match.captured(1).toInt(), qPrintable(line.left(80)));
        distinct.insert(line);
    }
    // A line written over by another thread's would show up twice.
    QCOMPARE(distinct.size(), kThreads * kLinesEach);
}

QTEST_GUILESS_MAIN(tst_LogError)
#include "tst_LogError.moc"
