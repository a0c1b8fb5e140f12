#include "tools/bridge/Bridge.h"

#include "Common/MIDI/SystemMIDIConfiguration.h"
#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "Common/MidiDescriber.h"
#include "Common/MidiMessageSplitter.h"

cBridge::cBridge(const sBridgeSetup& Setup, tPrinter Printer, const sSessionEnvironment& Environment, QObject* Parent)
    : QObject(Parent),
      mSetup(Setup),
      mPrinter(std::move(Printer)),
      mSession(new cConsoleSession(Environment, this))
{
    mClock.start();
    mSession->SetResync(Setup.Resync);
    mSession->SetConsoleLocked(Setup.LockConsole);
    mSession->SetTrafficObserver(this);
    ReportSession();
}

cBridge::~cBridge()
{
    Stop();
}

void cBridge::Print(const QString& Line)
{
    if (mPrinter && !mStopped)
        mPrinter(Line);
}

// What the session does, as lines of text.
void cBridge::ReportSession()
{
    connect(mSession, &cConsoleSession::StateTextChanged, this, [this](const QString& State) {
        if (State == mStateText)
            return;
        mStateText = State;
        Print(QStringLiteral("console: %1").arg(State));
    });
    connect(mSession, &cConsoleSession::TryStarted, this, [this](int Try, const QHostAddress& Address, bool LastKnown) {
        if (LastKnown)
            Print(QStringLiteral("try %1: \"%2\" does not answer discovery; trying its last address").arg(Try).arg(mSetup.ConsoleName));
        Print(QStringLiteral("try %1: connecting to %2").arg(Try).arg(Address.toString()));
    });
    connect(mSession, &cConsoleSession::ConsoleNotFound, this,
            [this](int Try) { Print(QStringLiteral("try %1: \"%2\" not found yet").arg(Try).arg(mSetup.ConsoleName)); });
    connect(mSession, &cConsoleSession::ConnectTimedOut, this, [this](const QHostAddress& Address, int Ms) {
        Print(QStringLiteral("console: no connection to %1 within %2 s").arg(Address.toString()).arg(Ms / 1000.0));
    });
    connect(mSession, &cConsoleSession::RetryScheduled, this,
            [this](int Ms) { Print(QStringLiteral("console: trying again in %1 s").arg(Ms / 1000.0)); });
    connect(mSession, &cConsoleSession::ConsoleAnswered, this, [this](const sUnit& Unit) {
        Print(QStringLiteral("console: \"%1\" answers from %2").arg(Unit.Name, Unit.Address.toString()));
    });
    connect(mSession, &cConsoleSession::ResyncSent, this, [this](const QString& Port, const QList<QByteArray>& Messages) {
        if (mSetup.Monitor)
            for (const QByteArray& message : Messages)
                PrintMessages(QStringLiteral("out"), Port, message, true);
        Print(QStringLiteral("resync: %1 control%2 sent to the console").arg(Messages.size()).arg(Messages.size() == 1 ? "" : "s"));
    });
    connect(mSession, &cConsoleSession::Connected, this, &cBridge::Connected);
}

bool cBridge::Start()
{
    if (mStarted || mStopped)
        return mStarted;
    mStarted = true;

    Print(QStringLiteral("map: %1").arg(mSetup.MapFile));
    mSession->LoadMapFile(mSetup.MapFile);
    cMIDITranslatorConfiguration* configuration = mSession->GetConfiguration();
    if (configuration->GetRules().isEmpty())
    {
        Print(QStringLiteral("error: the map %1 holds no rule that could be read").arg(mSetup.MapFile));
        return false;
    }
    if (mSetup.Channel >= 0)
        mSession->SetChannel(quint8(mSetup.Channel));

    const QStringList ports = configuration->GetVirtualPortNames();
    if (mSetup.LockConsole)
        Print(QStringLiteral("console locked: the DAW moves nothing on it but what the map marks safe"));
    Print(QStringLiteral("DAW ports: %1").arg(ports.isEmpty() ? QStringLiteral("none") : ports.join(QStringLiteral(", "))));

    if (mSetup.Mode == eConsoleMode::MidiPorts)
    {
        mSession->SetConsoleInput(mSetup.MidiIn);
        mSession->SetConsoleOutput(mSetup.MidiOut);
        mSession->UseMIDIPorts();
        cSystemMIDIConfiguration* registry = mSession->GetRegistry();
        if (!mSetup.MidiIn.isEmpty() && !registry->GetInputNames().contains(mSetup.MidiIn))
            Print(QStringLiteral("console input \"%1\" is not there yet; it is used once it appears").arg(mSetup.MidiIn));
        if (!mSetup.MidiOut.isEmpty() && !registry->GetOutputNames().contains(mSetup.MidiOut))
            Print(QStringLiteral("console output \"%1\" is not there yet; it is used once it appears").arg(mSetup.MidiOut));
        Print(QStringLiteral("console: MIDI ports in \"%1\", out \"%2\"").arg(mSetup.MidiIn, mSetup.MidiOut));
        return true;
    }

    mSession->UseNetwork();
    if (mSetup.Mode == eConsoleMode::Name)
    {
        mSession->Discover(mSetup.FindString);
        Print(QStringLiteral("console: looking for \"%1\" (query \"%2\")").arg(mSetup.ConsoleName, mSetup.FindString));
        // The first answers come after one poll; a try is made as soon as the console answers.
        mSession->Connect(mSetup.Address, mSetup.ConsoleName, 2 * mSession->GetPollMs());
        return true;
    }
    mSession->Connect(mSetup.Address);
    return true;
}

void cBridge::Stop()
{
    if (mStopped)
        return;
    if (mStarted)
        Print(QStringLiteral("stopping"));
    mStopped = true;
    mSession->SetTrafficObserver(nullptr);
    mSession->Stop();
}

QString cBridge::PortLabel(const QString& Port) const
{
    if (Port == cMIDITranslatorConfiguration::TCPPortName() || (mSetup.Mode == eConsoleMode::MidiPorts && (Port == mSetup.MidiIn || Port == mSetup.MidiOut)))
        return QStringLiteral("console");
    return QStringLiteral("DAW \"%1\"").arg(Port);
}

void cBridge::PrintMessages(const QString& Direction, const QString& Port, const QByteArray& Bytes, bool Whole)
{
    const QString prefix = QStringLiteral("%1 %2 %3 ").arg(mClock.nsecsElapsed() / 1e9, 0, 'f', 6).arg(Direction, -3).arg(PortLabel(Port));
    auto print = [&](const QByteArray& Message) { Print(prefix + cMidiDescriber::Line(Message)); };
    if (Whole)
    {
        cMidiMessageSplitter splitter(print, [this](const QString& Problem) { Print(QStringLiteral("monitor: ") + Problem); });
        splitter.Feed(Bytes);
        splitter.Flush();
        return;
    }
    std::shared_ptr<cMidiMessageSplitter>& splitter = mSplitters[Port];
    if (!splitter)
        splitter = std::make_shared<cMidiMessageSplitter>([this, Port, Direction](const QByteArray& Message) {
            Print(QStringLiteral("%1 %2 %3 ").arg(mClock.nsecsElapsed() / 1e9, 0, 'f', 6).arg(Direction, -3).arg(PortLabel(Port)) +
                  cMidiDescriber::Line(Message));
        },
        [this](const QString& Problem) { Print(QStringLiteral("monitor: ") + Problem); });
    splitter->Feed(Bytes);
}

void cBridge::MIDIRead(const QString& Port, const QByteArray& Bytes)
{
    if (mSetup.Monitor)
        PrintMessages(QStringLiteral("in"), Port, Bytes, false);
}

void cBridge::MIDIHeld(int, const QString& Port, const QByteArray& Bytes)
{
    if (mSetup.Monitor)
        PrintMessages(QStringLiteral("held"), Port, Bytes, true);
}

void cBridge::MIDIWritten(int, const QString& Port, bool, const QByteArray& Bytes)
{
    if (mSetup.Monitor)
        PrintMessages(QStringLiteral("out"), Port, Bytes, true);
}
