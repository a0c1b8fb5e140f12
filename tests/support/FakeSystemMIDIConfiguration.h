#pragma once
// An in-memory port registry for tests and benchmarks: system devices that a test plugs in and
// pulls out (announced like a real back-end does), and virtual ports that record what the engine
// writes and accept bytes "from the DAW". Owned by the configuration under test; GUI thread only.

#include "Common/MIDI/SystemMIDIConfiguration.h"
#include "tests/support/FakeMIDIPort.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QPointer>

class cFakeSystemMIDIConfiguration : public cSystemMIDIConfiguration
{
    Q_OBJECT

public:
    explicit cFakeSystemMIDIConfiguration(QObject* Parent = nullptr);

    int GetInputCount() override;
    QString GetInputName(int Index) override;
    cMIDIInput* GetInput(QString Name) override;
    QStringList GetInputNames() override;
    int GetOutputCount() override;
    QString GetOutputName(int Index) override;
    cMIDIOutput* GetOutput(QString Name) override;
    QStringList GetOutputNames() override;

    // Plugs in a system device and announces it; a name already plugged in is left as it is.
    cFakeMIDIPort* PlugInput(const QString& Name);
    cFakeMIDIPort* PlugOutput(const QString& Name);
    // Announces the removal, then destroys the device object.
    void UnplugInput(const QString& Name);
    void UnplugOutput(const QString& Name);

    // The virtual port currently held under Name, or null.
    cFakeMIDIPort* VirtualPort(const QString& Name) const;
    // How many virtual port objects were ever made (reloads make new ones).
    int VirtualPortsMade() const { return mVirtualPortsMade; }

    // Whether ports made from now on keep every Write (default) or only count them.
    void SetRecordWrites(bool Record) { mRecordWrites = Record; }

protected:
    cMIDIInputOutput* NewVirtualInputOutput(const QString& Name) override;

private:
    using tDeviceList = QList<QPair<QString, cFakeMIDIPort*>>;
    using tAnnouncement = void (cSystemMIDIConfiguration::*)(QString);
    static cFakeMIDIPort* Find(const tDeviceList& Devices, const QString& Name);
    QStringList UserPickableNames(const tDeviceList& Devices) const;
    cFakeMIDIPort* Plug(tDeviceList& Devices, const QString& Name, tAnnouncement Added);
    void Unplug(tDeviceList& Devices, const QString& Name, tAnnouncement Removed);
    cFakeMIDIPort* NewPort();

    tDeviceList mInputs;
    tDeviceList mOutputs;
    QHash<QString, QPointer<cFakeMIDIPort>> mVirtualFakes;
    int mVirtualPortsMade = 0;
    bool mRecordWrites = true;
};
