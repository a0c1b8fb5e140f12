// Hands arbitrary answers to a unit finder, without any network traffic, with polls in between, and
// checks what it reports against a plain model of discovery: a unit is found when it first answers
// and there is room (256 at most), refreshed by each answer, lost at the fifth poll without one,
// and the list reported changed once per answer that found a unit and per poll that lost one.
// Input: a list of steps, each one byte:
//   bit 7 clear   an answer: bits 0-2 pick the sender from a fixed table, the next byte is the
//                 payload's length (cut to what is left), then the payload; the step 0x7F (honoured
//                 once per input) first adds answers "n0", "n1"... from that sender, past the limit
//   bit 7 set     a poll (the first 16 of an input; later ones are skipped)

#include "network/UnitFinder.h"

#include <QCoreApplication>
#include <QHash>
#include <QPair>
#include <QHostAddress>

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

// Senders as the socket reports them, each with the address text the unit must carry: the
// IPv4-mapped one comes out in its plain IPv4 form.
struct sSender
{
    QHostAddress From;
    QString Expected;
};

const sSender& Sender(int Index)
{
    static const sSender senders[8] = {
        {QHostAddress(QStringLiteral("192.0.2.1")), QStringLiteral("192.0.2.1")},
        {QHostAddress(QStringLiteral("192.0.2.2")), QStringLiteral("192.0.2.2")},
        {QHostAddress(QStringLiteral("::ffff:192.0.2.1")), QStringLiteral("192.0.2.1")},
        {QHostAddress(QStringLiteral("2001:db8::1")), QStringLiteral("2001:db8::1")},
        {QHostAddress(QStringLiteral("127.0.0.1")), QStringLiteral("127.0.0.1")},
        {QHostAddress(), QString()},
        {QHostAddress(QStringLiteral("::1")), QStringLiteral("::1")},
        {QHostAddress(QStringLiteral("0.0.0.0")), QStringLiteral("0.0.0.0")},
    };
    return senders[Index & 7];
}

// The address a unit from that sender carries, parsed once from the text the table expects.
const QHostAddress& ExpectedAddress(int Index)
{
    static const std::vector<QHostAddress> addresses = [] {
        std::vector<QHostAddress> list;
        for (int i = 0; i < 8; ++i)
            list.emplace_back(Sender(i).Expected);
        return list;
    }();
    return addresses[std::size_t(Index & 7)];
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
    QString AddressText;
    int Countdown;
};

// Discovery as users are told it works, written as directly as possible. Units are told apart by
// the address text the table above expects and the name; the address compared with the finder's is
// the one parsed from that text.
class cModel
{
    using tKey = QPair<QString, QByteArray>;
    QHash<tKey, int> mIndex;

public:
    std::vector<sUnit> Found;
    std::vector<sUnit> Lost;
    std::vector<sModelRecord> Units;

    void Answer(const QByteArray& Payload, const sSender& From, const QHostAddress& Expected, const QString& FindString)
    {
        const int zero = Payload.indexOf('\0');
        const tKey key(From.Expected, zero >= 0 ? Payload.left(zero) : Payload);
        const auto known = mIndex.constFind(key);
        if (known != mIndex.constEnd())
        {
            Units[std::size_t(known.value())].Countdown = cUnitFinder::kCountdown;
            return;
        }
        if (Units.size() >= std::size_t(cUnitFinder::kMostUnits))
            return;
        sUnit unit;
        unit.Address = Expected;
        unit.Name = QString::fromLatin1(key.second);
        unit.FindString = FindString;
        mIndex.insert(key, int(Units.size()));
        Units.push_back(sModelRecord{unit, From.Expected, cUnitFinder::kCountdown});
        Found.push_back(unit);
    }

    void Poll()
    {
        std::vector<sModelRecord> kept;
        kept.reserve(Units.size());
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
            mIndex.insert(tKey(Units[i].AddressText, Units[i].Unit.Name.toLatin1()), int(i));
    }
};

} // namespace

const QString kFindString = QStringLiteral("NY Find");

// Made once, with what it reports collected through connections made once: a finder and its
// connections per run would cost more than the run. Every run ends with as many polls as a unit
// survives, which leaves the finder knowing no unit, as a new one. Polls are the input's, made by
// CountDown, so no query is ever sent; the finder's own timer never fires, since no event loop runs.
// What a run collects is its own and freed with it, so libFuzzer sees no memory kept between runs.
cUnitFinder* gFinder = nullptr;
std::vector<sUnit>* gFound = nullptr;
std::vector<sUnit>* gLost = nullptr;
int gChanges = 0;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication application(*argc, *argv);
    gFinder = new cUnitFinder(kFindString, nullptr, QHostAddress(QHostAddress::LocalHost), 9, 24 * 3600 * 1000);
    QObject::connect(gFinder, &cUnitFinder::UnitFound, [](const sUnit& Unit) {
        if (gFound)
            gFound->push_back(Unit);
    });
    QObject::connect(gFinder, &cUnitFinder::UnitLost, [](const sUnit& Unit) {
        if (gLost)
            gLost->push_back(Unit);
    });
    QObject::connect(gFinder, &cUnitFinder::UnitsChanged, [] { ++gChanges; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, std::size_t Size)
{
    const QString& findString = kFindString;
    cUnitFinder& finder = *gFinder;
    Check(finder.GetUnitCount() == 0, "a unit outlived the polls of the previous run");
    cModel model;
    std::vector<sUnit> found;
    std::vector<sUnit> lost;
    gFound = &found;
    gLost = &lost;
    gChanges = 0;
    // One report of a change per answer that found a unit and per poll that lost one.
    int changes = 0;

    std::size_t at = 0;
    bool filled = false;
    int polls = 0;
    while (at < Size)
    {
        const uint8_t step = Data[at++];
        if (step & 0x80)
        {
            // Past this many they add nothing that fewer polls did not show.
            if (++polls > kMostPolls)
                continue;
            finder.CountDown();
            const std::size_t lostBefore = model.Lost.size();
            model.Poll();
            changes += model.Lost.size() > lostBefore ? 1 : 0;
        }
        else
        {
            const sSender& from = Sender(step);
            const QHostAddress& expected = ExpectedAddress(step);
            auto answer = [&](const QByteArray& Payload) {
                finder.TakeAnswer(Payload, from.From);
                const std::size_t foundBefore = model.Found.size();
                model.Answer(Payload, from, expected, findString);
                changes += model.Found.size() > foundBefore ? 1 : 0;
            };
            if (step == 0x7F && !filled)
            {
                filled = true;
                // Grown once rather than step by step: this is the costliest step of the input.
                found.reserve(found.size() + FillNames().size());
                model.Found.reserve(model.Found.size() + FillNames().size());
                for (const QByteArray& name : FillNames())
                    answer(name);
            }
            std::size_t length = at < Size ? Data[at++] : 0;
            if (length > Size - at)
                length = Size - at;
            answer(QByteArray(reinterpret_cast<const char*>(Data + at), int(length)));
            at += length;
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
    Check(gChanges == changes, "changes reported once per batch that found or lost a unit");

    // What these last polls lose is not checked: nothing collects it.
    gFound = nullptr;
    gLost = nullptr;
    for (int poll = 0; poll < cUnitFinder::kCountdown; ++poll)
        finder.CountDown();
    return 0;
}
