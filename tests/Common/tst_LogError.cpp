#include "Common/LogError.h"
#include "tests/support/LogCapture.h"

#include <QSet>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

class tst_LogError : public QObject
{
    Q_OBJECT

private slots:
    void writesOneLineWithFileAndLine();
    void cutsLongMessagesAtTheBuffer();
    void keepsLinesWholeAcrossThreads();
};

void tst_LogError::writesOneLineWithFileAndLine()
{
    cLogCapture capture;
    LogError("Common/MIDI/MidiParser.cpp", 42, "Invalid value: %d", 7);
    QCOMPARE(capture.Lines(), QStringList{"ERROR: Invalid value: 7\t(Common/MIDI/MidiParser.cpp:42)\n"});

    LOG_ERROR("Unknown mixer name \"%s\"", "Ny-16");
    QCOMPARE(capture.Messages().last(), QString("Unknown mixer name \"Ny-16\""));
    // The macro names this file relative to the source tree.
    QCOMPARE(capture.Files().last(), QString("tests/Common/tst_LogError.cpp"));
}

void tst_LogError::cutsLongMessagesAtTheBuffer()
{
    cLogCapture capture;
    const QByteArray longText(4 * kLogErrorBufferSize, 'x');
    LogError("file.cpp", 1, "%s", longText.constData());
    const QString message = capture.Messages().value(0);
    QCOMPARE(message.size(), kLogErrorBufferSize - 1);
    QVERIFY(capture.Lines().value(0).endsWith("\t(file.cpp:1)\n"));
}

void tst_LogError::keepsLinesWholeAcrossThreads()
{
    // Many threads held at a barrier and let go together, each writing long lines of its own
    // letter, so that without its lock the log's shared buffers are mixed up in every run.
    cLogCapture capture;
    constexpr int kThreads = 16;
    constexpr int kLinesEach = 400;
    std::atomic<int> waiting{kThreads};
    std::vector<QThread*> threads;
    for (int t = 0; t < kThreads; ++t)
    {
        threads.push_back(QThread::create([t, &waiting] {
            const QByteArray filler(kLogErrorBufferSize / 2, char('a' + t));
            waiting.fetch_sub(1);
            while (waiting.load() > 0)
                std::this_thread::yield();
            for (int i = 0; i < kLinesEach; ++i)
                LogError("thread.cpp", t, "%d %s %d", t, filler.constData(), i);
        }));
        threads.back()->start();
    }
    for (QThread* thread : threads)
    {
        QVERIFY(thread->wait(60000));
        delete thread;
    }
    const QStringList lines = capture.Lines();
    QCOMPARE(lines.size(), kThreads * kLinesEach);
    const QRegularExpression whole("^ERROR: (\\d+) ([a-p])\\2* \\d+\\t\\(thread\\.cpp:\\1\\)\\n$");
    QSet<QString> distinct;
    for (const QString& line : lines)
    {
        const QRegularExpressionMatch match = whole.match(line);
        QVERIFY2(match.hasMatch() && match.captured(2).at(0).unicode() - 'a' == match.captured(1).toInt(),
                 qPrintable(line.left(80)));
        distinct.insert(line);
    }
    // A line written over by another thread's would show up twice.
    QCOMPARE(distinct.size(), kThreads * kLinesEach);
}

QTEST_GUILESS_MAIN(tst_LogError)
#include "tst_LogError.moc"
