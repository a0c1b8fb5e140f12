#include "app/MIDIActiveWidget.h"
#include "app/WidgetGroup.h"

#include <QImage>
#include <QLabel>
#include <QtTest>

namespace
{
// The lamp as drawn on white: '#' for a dark pixel, '.' for a light one, one text per row.
QStringList Picture(cMIDIActiveWidget& Lamp)
{
    QImage image(Lamp.size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    Lamp.render(&image);
    QStringList rows;
    for (int y = 0; y < image.height(); ++y)
    {
        QString row;
        for (int x = 0; x < image.width(); ++x)
            row += qGray(image.pixel(x, y)) < 128 ? '#' : '.';
        rows << row;
    }
    return rows;
}
} // namespace

class tst_MIDIActiveWidget : public QObject
{
    Q_OBJECT

private slots:
    void drawsAFrameAndALitCentre_data();
    void drawsAFrameAndALitCentre();
    void oneMessageLightsTheLampUntilTheTimerRunsOut();
    void aSteadyStreamKeepsTheLampLit();
    void groupsShowAndHideTheirWidgets();
};

void tst_MIDIActiveWidget::drawsAFrameAndALitCentre_data()
{
    QTest::addColumn<bool>("lit");
    QTest::addColumn<QStringList>("picture");
    // The centre is drawn with the frame's pen around a 5 by 5 rectangle at (2, 2): rows and
    // columns 2 to 7.
    const QString frame = "##########", side = "#........#", lit = "#.######.#";
    QTest::newRow("off") << false << QStringList({frame, side, side, side, side, side, side, side, side, frame});
    QTest::newRow("lit") << true << QStringList({frame, side, lit, lit, lit, lit, lit, lit, side, frame});
}

void tst_MIDIActiveWidget::drawsAFrameAndALitCentre()
{
    QFETCH(bool, lit);
    QFETCH(QStringList, picture);
    cMIDIActiveWidget lamp;
    lamp.setFixedSize(10, 10);
    if (lit)
        lamp.MIDIActive();
    QCOMPARE(Picture(lamp), picture);
}

void tst_MIDIActiveWidget::oneMessageLightsTheLampUntilTheTimerRunsOut()
{
    cMIDIActiveWidget lamp;
    QVERIFY(!lamp.IsActive());
    lamp.MIDIActive();
    QVERIFY(lamp.IsActive());
    QTRY_VERIFY(!lamp.IsActive());
}

void tst_MIDIActiveWidget::aSteadyStreamKeepsTheLampLit()
{
    // Each message restarts the lamp's time, so a lamp lit by one message is still lit when the
    // next one comes less than 20 ms later, however long the stream lasts (here about 300 ms, far
    // beyond one lamp time). The gaps are measured, so a slow machine cannot make this fail.
    cMIDIActiveWidget lamp;
    QList<QPair<qint64, bool>> arrivals; // gap since the previous message, lamp lit before it
    QElapsedTimer sincePrevious;
    QTimer stream;
    stream.setInterval(5);
    connect(&stream, &QTimer::timeout, [&] {
        if (sincePrevious.isValid())
            arrivals.append({sincePrevious.restart(), lamp.IsActive()});
        else
            sincePrevious.start();
        lamp.MIDIActive();
        if (arrivals.size() == 60)
            stream.stop();
    });
    stream.start();
    QTRY_VERIFY(!stream.isActive());
    int shortGaps = 0;
    for (const auto& arrival : qAsConst(arrivals))
    {
        if (arrival.first < cMIDIActiveWidget::kLitMs - 2)
        {
            ++shortGaps;
            QVERIFY2(arrival.second, qPrintable(QString("out after a gap of %1 ms").arg(arrival.first)));
        }
    }
    if (shortGaps < arrivals.size() / 2)
        QSKIP("the event loop was too slow to give messages less than 20 ms apart");
    QTRY_VERIFY(!lamp.IsActive());
}

void tst_MIDIActiveWidget::groupsShowAndHideTheirWidgets()
{
    QWidget window;
    auto* first = new QLabel("first", &window);
    auto* second = new QLabel("second", &window);
    window.show();

    cWidgetGroup empty;
    empty.Hide();
    empty.Show();
    QVERIFY(first->isVisible() && second->isVisible());

    cWidgetGroup group;
    group.AddWidget(first);
    group.AddWidget(second);
    group.AddWidget(first);
    group.Hide();
    QVERIFY(first->isHidden() && second->isHidden());
    group.Show();
    QVERIFY(first->isVisible() && second->isVisible());
}

QTEST_MAIN(tst_MIDIActiveWidget)
#include "tst_MIDIActiveWidget.moc"
