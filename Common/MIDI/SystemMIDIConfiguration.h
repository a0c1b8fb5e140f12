#pragma once
// The registry where every MIDI port is found by name: virtual port pairs offered to the DAW,
// pairs registered by their owner (the TCP link) and, through a platform subclass, the system
// devices. Owned by the translator configuration; used on the GUI thread only.

#include "Common/MIDI/MIDIInput.h"
#include "Common/MIDI/MIDIInputOutput.h"
#include "Common/MIDI/MIDIOutput.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

class cSystemMIDIConfiguration : public QObject
{
    Q_OBJECT

public:
    explicit cSystemMIDIConfiguration(QObject* Parent = nullptr);
    ~cSystemMIDIConfiguration() override;

    // Creates the virtual port pair offered to the DAW under Name; a name already created is
    // reported and left as it is.
    virtual void CreateVirtualInputOutput(QString Name);
    virtual void DeleteVirtualInputOutput(QString Name);
    // Registers a pair that stays owned by the caller; announces it as input and as output.
    virtual void AddInputOutput(QString Name, cMIDIInputOutput* Port);
    virtual void RemoveInputOutput(QString Name);

    virtual int GetInputCount() = 0;
    virtual QString GetInputName(int Index) = 0;
    // Virtual ports first, then registered ports; platforms fall back to their system devices.
    virtual cMIDIInput* GetInput(QString Name);
    virtual QStringList GetInputNames() = 0;
    virtual int GetOutputCount() = 0;
    virtual QString GetOutputName(int Index) = 0;
    virtual cMIDIOutput* GetOutput(QString Name);
    virtual QStringList GetOutputNames() = 0;

    // Every virtual port name, then every registered port name.
    QStringList GetNamedPortNames() const;

    // Changes whenever a port may have appeared, disappeared or been replaced under some name, so
    // a caller may keep port pointers it looked up for as long as the value stays the same.
    quint64 GetPortGeneration() const { return mPortGeneration; }

    // Whether this back-end tells when a program connects to one of the virtual ports offered to
    // the DAW (VirtualPortConnectedSignal). Where it cannot, a port counts as connected once made.
    virtual bool ReportsVirtualPortConnections() const { return false; }

signals:
    void InputAddedSignal(QString Name);
    void InputRemovedSignal(QString Name);
    void OutputAddedSignal(QString Name);
    void OutputRemovedSignal(QString Name);
    // A program (the DAW) connected to the virtual port pair Name, on either side. GUI thread.
    void VirtualPortConnectedSignal(QString Name);

protected:
    // The platform's virtual port pair for Name, with this registry as its parent object. Each
    // back-end supplies its own; it never returns null.
    virtual cMIDIInputOutput* NewVirtualInputOutput(const QString& Name) = 0;

private:
    void PortsChanged() { ++mPortGeneration; }

    QHash<QString, cMIDIInputOutput*> mVirtualPorts;
    QHash<QString, cMIDIInputOutput*> mRegisteredPorts;
    quint64 mPortGeneration = 0;
};
