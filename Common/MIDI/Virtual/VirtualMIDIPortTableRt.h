#pragma once
// Every virtual port pair that this process ever opened through RtMidi, by name: each stays open,
// and visible to the DAW, from its first creation until CloseAll (called when the window closes),
// however often its port object is destroyed and made again. One per process, created on first use.
// Opening, attaching and closing happen on the GUI thread; RtMidi's input callback finds the
// attached object here, on the MIDI system's thread, under the pair's own guard.

#include <QHash>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <RtMidi.h>

#include <memory>
#include <vector>

class cVirtualMIDIInputOutputRt;

class cVirtualMIDIPortTableRt
{
public:
    static cVirtualMIDIPortTableRt& Instance();

    // Opens the pair Name (a receiving and a sending port of that name, each in its own client
    // "Quillon") unless it is open already, and attaches Object to it: from now on what the DAW
    // sends reaches Object. Returns the sending side, or null when the pair could not be opened,
    // with the reason in Why. A name that failed once is not tried again.
    RtMidiOut* Attach(const QString& Name, cVirtualMIDIInputOutputRt* Object, QString* Why);
    // Takes Object off Name if it is still the one attached; bytes from the DAW are dropped until
    // the next Attach. Does nothing when the table was closed meanwhile, and never creates one.
    static void Detach(const QString& Name, cVirtualMIDIInputOutputRt* Object);
    // Closes every pair, tells the attached objects that they send nothing any more, and frees the
    // table; the next Instance starts an empty one and chooses the MIDI system again.
    static void CloseAll();

    // Every name opened so far (also those whose opening failed).
    QStringList Names() const { return mPorts.keys(); }

private:
    struct sPort
    {
        std::unique_ptr<RtMidiIn> in;
        std::unique_ptr<RtMidiOut> out;
        QString failure;
        QString name;
        // Guards object: taken by the input callback while it delivers, and by attach and detach.
        QMutex guard;
        cVirtualMIDIInputOutputRt* object = nullptr;
    };

    cVirtualMIDIPortTableRt() = default;
    ~cVirtualMIDIPortTableRt();
    static void Open(sPort& Port, RtMidi::Api Api);
    static void Callback(double TimeStamp, std::vector<unsigned char>* Message, void* Port);
    static void Error(RtMidiError::Type Type, const std::string& Text, void* Port);

    QHash<QString, sPort*> mPorts;
};
