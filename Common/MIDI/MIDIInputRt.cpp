#include "Common/MIDI/MIDIInputRt.h"

#include "Common/LogError.h"
#include "Common/MIDI/MIDIApiRt.h"


namespace
{
// The port number of the port listed as Name right now, or -1.
int FindPort(RtMidiIn& In, const std::string& Name)
{
    const unsigned int count = In.getPortCount();
    for (unsigned int i = 0; i < count; ++i)
        if (In.getPortName(i) == Name)
            return static_cast<int>(i);
    return -1;
}
} // namespace

cMIDIInputRt::cMIDIInputRt(RtMidi::Api Api, const QString& SystemName, QObject* Parent)
    : cMIDIInput(Parent), mName(SystemName)
{
    try
    {
        mIn = std::make_unique<RtMidiIn>(Api, cMIDIApiRt::kClientName);
        mIn->setErrorCallback(&Error, this);
        // RtMidi drops exclusive messages, timing and active sensing unless told otherwise; the
        // console's exclusive messages and clock are part of what rules may match.
        mIn->ignoreTypes(false, false, false);
        mIn->setCallback(&Callback, this);
        const int port = FindPort(*mIn, SystemName.toStdString());
        if (port < 0)
        {
            LOG_ERROR("Failed to open MIDI input device \"%s\": it is gone", SystemName.toLocal8Bit().constData());
            return;
        }
        mIn->openPort(static_cast<unsigned int>(port), "Quillon input");
    }
    catch (const RtMidiError& error)
    {
        LOG_ERROR("Failed to open MIDI input device \"%s\": %s", SystemName.toLocal8Bit().constData(), error.what());
    }
}

cMIDIInputRt::~cMIDIInputRt()
{
    // Closing first: RtMidi's thread must be done with this object before its buffer goes.
    try
    {
        mIn.reset();
    }
    catch (const RtMidiError& error)
    {
        LOG_ERROR("Failed to close MIDI input device \"%s\": %s", mName.toLocal8Bit().constData(), error.what());
    }
}

bool cMIDIInputRt::IsOpen() const
{
    return mIn && mIn->isPortOpen();
}

void cMIDIInputRt::Read(QByteArray& Data)
{
    mReceived.Take(Data);
}

void cMIDIInputRt::Received(const std::vector<unsigned char>& Message)
{
    mReceived.Receive(*this, reinterpret_cast<const char*>(Message.data()), static_cast<int>(Message.size()));
}

void cMIDIInputRt::Callback(double, std::vector<unsigned char>* Message, void* Port)
{
    if (Message == nullptr || Port == nullptr)
        return;
    static_cast<cMIDIInputRt*>(Port)->Received(*Message);
}

void cMIDIInputRt::Error(RtMidiError::Type, const std::string& Text, void* Port)
{
    LOG_ERROR("MIDI input device \"%s\": %s", static_cast<cMIDIInputRt*>(Port)->mName.toLocal8Bit().constData(),
              Text.c_str());
}
