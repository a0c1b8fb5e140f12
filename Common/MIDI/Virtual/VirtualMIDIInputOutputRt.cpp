#include "Common/MIDI/Virtual/VirtualMIDIInputOutputRt.h"

#include "Common/LogError.h"
#include "Common/MIDI/MIDIApiRt.h"
#include "Common/MIDI/Virtual/VirtualMIDIPortTableRt.h"


cVirtualMIDIInputOutputRt::cVirtualMIDIInputOutputRt(const QString& Name, QObject* Parent)
    : cMIDIInputOutput(Parent), mName(Name)
{
    QString why;
    RtMidiOut* out = cVirtualMIDIPortTableRt::Instance().Attach(Name, this, &why);
    mSender.SetOutput(out);
    mOpen = out != nullptr;
    if (!mOpen)
        LOG_ERROR("Virtual MIDI port \"%s\" reaches no DAW: %s", Name.toLocal8Bit().constData(),
                  why.toLocal8Bit().constData());
}

cVirtualMIDIInputOutputRt::~cVirtualMIDIInputOutputRt()
{
    cVirtualMIDIPortTableRt::Detach(mName, this);
}

void cVirtualMIDIInputOutputRt::Read(QByteArray& Data)
{
    mReceived.Take(Data);
}

void cVirtualMIDIInputOutputRt::Write(const QByteArray& Data)
{
    mSender.Send(Data, mName);
}

void cVirtualMIDIInputOutputRt::Deliver(const std::vector<unsigned char>& Message)
{
    mReceived.Receive(*this, reinterpret_cast<const char*>(Message.data()), static_cast<int>(Message.size()));
}

void cVirtualMIDIInputOutputRt::PortClosed()
{
    mSender.SetOutput(nullptr);
    mOpen = false;
}
