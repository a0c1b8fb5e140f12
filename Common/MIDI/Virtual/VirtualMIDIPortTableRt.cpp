#include "Common/MIDI/Virtual/VirtualMIDIPortTableRt.h"

#include "Common/LogError.h"
#include "Common/MIDI/MIDIApiRt.h"
#include "Common/MIDI/VirtualMIDIPortCloser.h"
#include "Common/MIDI/Virtual/VirtualMIDIInputOutputRt.h"

#include <QMutexLocker>

namespace
{
cVirtualMIDIPortTableRt* gTable = nullptr;
}

cVirtualMIDIPortTableRt& cVirtualMIDIPortTableRt::Instance()
{
    if (gTable == nullptr)
    {
        gTable = new cVirtualMIDIPortTableRt();
        // The window closes every virtual port of the process through this when it goes.
        SetVirtualMIDIPortCloser(&cVirtualMIDIPortTableRt::CloseAll);
    }
    return *gTable;
}

cVirtualMIDIPortTableRt::~cVirtualMIDIPortTableRt()
{
    for (sPort* port : qAsConst(mPorts))
    {
        {
            QMutexLocker lock(&port->guard);
            if (port->object)
                port->object->PortClosed();
            port->object = nullptr;
        }
        // Without the guard: closing waits for a running callback, which may be waiting for it.
        try
        {
            port->in.reset();
            port->out.reset();
        }
        catch (const RtMidiError& error)
        {
            LOG_ERROR("Failed to close virtual MIDI port \"%s\": %s", port->name.toLocal8Bit().constData(), error.what());
        }
        delete port;
    }
}

void cVirtualMIDIPortTableRt::Open(sPort& Port, RtMidi::Api Api)
{
    if (Api == RtMidi::UNSPECIFIED)
    {
        Port.failure = QStringLiteral("no MIDI system could be opened (%1)").arg(cMIDIApiRt::Failure());
        return;
    }
    const std::string name = Port.name.toStdString();
    try
    {
        auto in = std::make_unique<RtMidiIn>(Api, cMIDIApiRt::kClientName);
        in->setErrorCallback(&Error, &Port);
        // What a DAW sends may be anything: exclusive messages, clock and active sensing included.
        in->ignoreTypes(false, false, false);
        in->setCallback(&Callback, &Port);
        in->openVirtualPort(name);
        auto out = std::make_unique<RtMidiOut>(Api, cMIDIApiRt::kClientName);
        out->setErrorCallback(&Error, &Port);
        out->openVirtualPort(name);
        if (Port.failure.isEmpty())
        {
            Port.in = std::move(in);
            Port.out = std::move(out);
        }
    }
    catch (const RtMidiError& error)
    {
        Port.failure = QString::fromStdString(error.getMessage()).trimmed();
    }
}

RtMidiOut* cVirtualMIDIPortTableRt::Attach(const QString& Name, cVirtualMIDIInputOutputRt* Object, QString* Why)
{
    sPort* port = mPorts.value(Name);
    if (port == nullptr)
    {
        port = new sPort;
        port->name = Name;
        mPorts.insert(Name, port);
        Open(*port, cMIDIApiRt::Current());
    }
    *Why = port->failure;
    if (!port->out)
        return nullptr;
    QMutexLocker lock(&port->guard);
    port->object = Object;
    return port->out.get();
}

void cVirtualMIDIPortTableRt::Detach(const QString& Name, cVirtualMIDIInputOutputRt* Object)
{
    if (gTable == nullptr)
        return;
    sPort* port = gTable->mPorts.value(Name);
    if (port == nullptr)
        return;
    QMutexLocker lock(&port->guard);
    if (port->object == Object)
        port->object = nullptr;
}

void cVirtualMIDIPortTableRt::CloseAll()
{
    delete gTable;
    gTable = nullptr;
    cMIDIApiRt::Forget();
}

void cVirtualMIDIPortTableRt::Callback(double, std::vector<unsigned char>* Message, void* Port)
{
    if (Message == nullptr || Port == nullptr)
        return;
    auto* port = static_cast<sPort*>(Port);
    // Held while delivering, so the object cannot be destroyed under the callback.
    QMutexLocker lock(&port->guard);
    if (port->object)
        port->object->Deliver(*Message);
}

void cVirtualMIDIPortTableRt::Error(RtMidiError::Type Type, const std::string& Text, void* Port)
{
    auto* port = static_cast<sPort*>(Port);
    const QString text = QString::fromStdString(Text).trimmed();
    // While opening, the first failure is kept and reported by every object of the name.
    if (!port->in && !port->out && Type != RtMidiError::WARNING && port->failure.isEmpty())
    {
        port->failure = text;
        return;
    }
    LOG_ERROR("Virtual MIDI port \"%s\": %s", port->name.toLocal8Bit().constData(), text.toLocal8Bit().constData());
}
