// Hands arbitrary answers to a unit finder, without any network traffic, with polls in between, and
// checks what it reports against a plain model of discovery: a unit is found when it first answers
// and there is room (256 at most), refreshed by each answer, lost at the fifth poll without one.
// Input: a list of steps, each one byte:
//   bit 7 clear   an answer: bits 0-2 pick the sender from a fixed table, the next byte is the
//                 payload's length (cut to what is left), then the payload; the step 0x7F (honoured
//                 once per input) first adds answers "n0", "n1"... from that sender, past the limit
//   bit 7 set     a poll (the first 16 of an input; later ones are skipped)

#include "network/UnitFinder.h"

#include <QCoreApplication>
#include <QHash>
#include <QHostAddress>
#include <QUdpSocket>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{
void Check(bool Condition, const char* What)
{
    if (!Condition)
    {
        std::fprintf(stderr, "fuzz_unit_finder: %s\n", What);
        std::abort();
    }
}

// Senders as the socket reports them; the IPv4-mapped one must come out as its plain IPv4 form.
const QHostAddress& Sender(int Index)
{
    static const QHostAddress senders[8] = {
        QHostAddress(QStringLiteral("192.0.2.1")),
        QHostAddress(QStringLiteral("192.0.2.2")),
        QHostAddress(QStringLiteral("::ffff:192.0.2.1")),
        QHostAddress(QStringLiteral("2001:db8::1")),
        QHostAddress(QStringLiteral("127.0.0.1")),
        QHostAddress(),
        QHostAddress(QStringLiteral("::1")),
        QHostAddress(QStringLiteral("0.0.0.0")),
    };
    return senders[Index & 7];
}

// Answers of the one fill an input may ask for: enough to pass the unit limit.
constexpr int kMostUnitsPlus = cUnitFinder::kMostUnits + 8;

constexpr int kMostPolls = 16;

const std::vector<QByteArray>& FillNames()
{
    static const std::vector<QByteArray> names = [] {
        std::vector<QByteArray> list;
        for (int i = 0; i < kMostUnitsPlus; ++i)
            list.push_back("n" + QByteArray::number(i));
        return list;
    }();
    return names;
}

struct sModelRecord
{
    sUnit Unit;
    int Countdown;
};

// Discovery as users are told it works, written as directly as possible.
class cModel
{
    static QString Key(const sUnit& Unit) { return Unit.Address.toString() + QLatin1Char('\n') + Unit.Name; }
    QHash<QString, int> mIndex;

public:
    std::vector<sUnit> Found;
    std::vector<sUnit> Lost;
    std::vector<sModelRecord> Units;

    void Answer(const QByteArray& Payload, const QHostAddress& From, const QString& FindString)
    {
        sUnit unit;
        bool isIPv4 = false;
        const quint32 ipv4 = From.toIPv4Address(&isIPv4);
        unit.Address = isIPv4 ? QHostAddress(ipv4) : From;
        const int zero = Payload.indexOf('\0');
        unit.Name = QString::fromLatin1(zero >= 0 ? Payload.left(zero) : Payload);
        unit.FindString = FindString;
        // Looked up by a text key, so that the model stays cheap when the input fills the list.
        const QString key = Key(unit);
        const auto known = mIndex.constFind(key);
        if (known != mIndex.constEnd())
        {
            Units[std::size_t(known.value())].Countdown = cUnitFinder::kCountdown;
            return;
        }
        if (Units.size() >= std::size_t(cUnitFinder::kMostUnits))
            return;
        mIndex.insert(key, int(Units.size()));
        Units.push_back(sModelRecord{unit, cUnitFinder::kCountdown});
        Found.push_back(unit);
    }

    void Poll()
    {
        std::vector<sModelRecord> kept;
        for (sModelRecord& record : Units)
        {
            if (--record.Countdown == 0)
                Lost.push_back(record.Unit);
            else
                kept.push_back(record);
        }
        if (kept.size() == Units.size())
            return;
        Units.swap(kept);
        mIndex.clear();
        for (std::size_t i = 0; i < Units.size(); ++i)
            mIndex.insert(Key(Units[i].Unit), int(i));
    }
};

// Where the finder's queries go: a socket of ours on loopback that is never read.
QUdpSocket* Sink()
{
    static QUdpSocket* sink = []
    {
        auto* socket = new QUdpSocket;
        if (!socket->bind(QHostAddress(QHostAddress::LocalHost), 0))
            Check(false, "cannot bind the loopback sink");
        return socket;
    }();
    return sink;
}
} // namespace

const QString kFindString = QStringLiteral("NY Find");

// Made once, since a socket per run would cost more than the run. Every run ends with as many polls
// as a unit survives, which leaves it knowing no unit, as a new one.
cUnitFinder* gFinder = nullptr;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication application(*argc, *argv);
    // The finder's own timer never fires: no event loop runs here. Polls are the input's.
    gFinder = new cUnitFinder(kFindString, nullptr, QHostAddress(QHostAddress::LocalHost), Sink()->localPort(),
                              24 * 3600 * 1000);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, std::size_t Size)
{
    const QString& findString = kFindString;
    cUnitFinder& finder = *gFinder;
    Check(finder.GetUnitCount() == 0, "a unit outlived the polls of the previous run");
    std::vector<sUnit> found;
    std::vector<sUnit> lost;
    {
        QObject listening;
        QObject::connect(&finder, &cUnitFinder::UnitFound, &listening,
                         [&](const sUnit& Unit) { found.push_back(Unit); });
        QObject::connect(&finder, &cUnitFinder::UnitLost, &listening, [&](const sUnit& Unit) { lost.push_back(Unit); });
        cModel model;

        std::size_t at = 0;
        bool filled = false;
        int polls = 0;
        while (at < Size)
        {
            const uint8_t step = Data[at++];
            if (step & 0x80)
            {
                // Each poll sends a query, which costs more than all else; past this many they add
                // nothing that fewer polls did not show.
                if (++polls > kMostPolls)
                    continue;
                finder.TimerFired();
                model.Poll();
            }
            else
            {
                const QHostAddress& from = Sender(step);
                if (step == 0x7F && !filled)
                {
                    filled = true;
                    for (const QByteArray& name : FillNames())
                    {
                        finder.TakeAnswer(name, from);
                        model.Answer(name, from, findString);
                    }
                }
                std::size_t length = at < Size ? Data[at++] : 0;
                if (length > Size - at)
                    length = Size - at;
                const QByteArray payload(reinterpret_cast<const char*>(Data + at), int(length));
                at += length;
                finder.TakeAnswer(payload, from);
                model.Answer(payload, from, findString);
            }
            Check(finder.GetUnitCount() <= cUnitFinder::kMostUnits, "more units than the limit");
            Check(finder.GetUnitCount() == int(model.Units.size()), "unit count differs from the model");
        }
        Check(found.size() == model.Found.size(), "found count differs from the model");
        for (std::size_t i = 0; i < found.size(); ++i)
            Check(found[i] == model.Found[i], "found unit differs from the model");
        Check(lost.size() == model.Lost.size(), "lost count differs from the model");
        for (std::size_t i = 0; i < lost.size(); ++i)
            Check(lost[i] == model.Lost[i], "lost unit differs from the model");
    }
    for (int poll = 0; poll < cUnitFinder::kCountdown; ++poll)
        finder.TimerFired();
    return 0;
}
