#include "Common/LogError.h"
#include "tests/support/LogCapture.h"

#include <QThread>
#include <QtTest>

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
    cLogCapture capture;
    constexpr int kThreads = 4;
    constexpr int kLinesEach = 200;
    std::vector<QThread*> threads;
    for (int t = 0; t < kThreads; ++t)
    {
        threads.push_back(QThread::create([t] {
            for (int i = 0; i < kLinesEach; ++i)
                LogError("thread.cpp", t, "thread %d line %d", t, i);
        }));
        threads.back()->start();
    }
    for (QThread* thread : threads)
    {
        QVERIFY(thread->wait(30000));
        delete thread;
    }
    const QStringList lines = capture.Lines();
    QCOMPARE(lines.size(), kThreads * kLinesEach);
    for (const QString& line : lines)
        QVERIFY2(QRegularExpression("^ERROR: thread (\\d) line \\d+\\t\\(thread\\.cpp:\\1\\)\\n$").match(line).hasMatch(),
                 qPrintable(line));
}

QTEST_GUILESS_MAIN(tst_LogError)
#include "tst_LogError.moc"
