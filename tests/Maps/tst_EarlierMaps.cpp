// The maps as they shipped before rules could keep state (tests/Maps/earlier) still translate
// byte for byte as the engine of that time did: every rule's pattern, its open nibbles filled two
// ways, on two channels, against translations.txt, which that engine wrote. QUILLON_RECORD=1
// writes the file again instead of comparing.

#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "tests/support/FakeSystemMIDIConfiguration.h"

#include <QtTest>

namespace
{
const QString kTcp = QStringLiteral("Corvane Internal TCP MIDI");
const QString kEarlier = QStringLiteral(QUILLON_EARLIER_MAPS_DIR "/");
} // namespace

class tst_EarlierMaps : public QObject
{
    Q_OBJECT

private slots:
    void translateAsBefore();
};

void tst_EarlierMaps::translateAsBefore()
{
    QStringList lines;
    const QStringList files = QDir(kEarlier).entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
    QCOMPARE(files.size(), 6);
    for (const QString& file : files)
        for (const int channel : {1, 10})
        {
            auto* registry = new cFakeSystemMIDIConfiguration;
            cMIDITranslatorConfiguration configuration(registry);
            cFakeMIDIPort console;
            configuration.SetTCPInputOutput(&console);
            configuration.LoadFile(kEarlier + file);
            configuration.SetMixerInputPortName(kTcp);
            configuration.SetMixerOutputPortName(kTcp);
            configuration.SetVariableValue(QStringLiteral("n"), uint8_t(channel));
            QList<cFakeMIDIPort*> ports{&console};
            for (const QString& name : configuration.GetVirtualPortNames())
                ports << registry->VirtualPort(name);
            const QList<cMIDITranslatorRule> rules = configuration.GetRules();
            for (int id = 0; id < rules.size(); ++id)
                for (int fill = 0; fill < 2; ++fill)
                {
                    const std::vector<sMatchNibble>& nibbles = rules.at(id).GetMatchTrigger()->nibbles;
                    QByteArray in;
                    for (std::size_t i = 0; i + 1 < nibbles.size(); i += 2)
                    {
                        auto nibble = [&](std::size_t At) {
                            return nibbles[At].wildcard ? int((id * 5 + fill * 7 + At) % 16) : int(nibbles[At].value);
                        };
                        in.append(char(nibble(i) << 4 | nibble(i + 1)));
                    }
                    const QString port = configuration.ResolveInputAlias(rules.at(id).GetIncomingPorts().value(0));
                    cFakeMIDIPort* from = port == kTcp ? &console : registry->VirtualPort(port);
                    for (cFakeMIDIPort* each : ports)
                        each->ClearWrites();
                    if (from != nullptr)
                        from->Deliver(in);
                    QString line = QStringLiteral("%1 ch%2 %3 <- %4:").arg(file).arg(channel).arg(port, QString(in.toHex(' ')));
                    for (int p = 0; p < ports.size(); ++p)
                        for (const QByteArray& out : ports.at(p)->Writes())
                            line += QStringLiteral(" [%1] %2").arg(p).arg(QString(out.toHex(' ')));
                    lines << line;
                }
        }

    QFile golden(kEarlier + QStringLiteral("translations.txt"));
    if (qEnvironmentVariableIsSet("QUILLON_RECORD"))
    {
        QVERIFY(golden.open(QIODevice::WriteOnly | QIODevice::Text));
        golden.write(lines.join(QLatin1Char('\n')).toUtf8() + '\n');
        QSKIP("recorded");
    }
    QVERIFY(golden.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList expected = QString::fromUtf8(golden.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), expected.size());
    for (int i = 0; i < lines.size(); ++i)
        QCOMPARE(lines.at(i), expected.at(i));
}

QTEST_GUILESS_MAIN(tst_EarlierMaps)
#include "tst_EarlierMaps.moc"
