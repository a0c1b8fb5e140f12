#pragma once
// The port registry under JACK, through Quillon's one JACK client: lists the other clients' MIDI
// ports under their JACK names ("client:port"), opens one when its name is first asked for, and,
// from the first time a port or a list is asked for, announces ports that come and go as JACK
// reports them. Tells when a program connects to one of the ports offered to the DAW. Owned by the
// translator configuration; GUI thread only.

#include "Common/MIDI/SystemMIDIConfiguration.h"

#include <QList>

class cMIDIClientJack;
class cMIDIInputJack;
class cMIDIOutputJack;

class cSystemMIDIConfigurationJack : public cSystemMIDIConfiguration
{
    Q_OBJECT

public:
    // Opens (or shares) the client; when no JACK server answers, says so once in the log and runs
    // on without system ports, and virtual ports reach no DAW.
    explicit cSystemMIDIConfigurationJack(QObject* Parent = nullptr);
    ~cSystemMIDIConfigurationJack() override;

    int GetInputCount() override;
    QString GetInputName(int Index) override;
    cMIDIInput* GetInput(QString Name) override;
    QStringList GetInputNames() override;
    int GetOutputCount() override;
    QString GetOutputName(int Index) override;
    cMIDIOutput* GetOutput(QString Name) override;
    QStringList GetOutputNames() override;

    bool ReportsVirtualPortConnections() const override;
    // Whether a JACK server answered.
    bool IsOpen() const;

    // Whether Name is one of Quillon's own ports: its client is "Quillon" (or "Quillon-01", ...),
    // or it contains "Quillon MIDI".
    static bool IsOwnPort(const QString& Name);

protected:
    cMIDIInputOutput* NewVirtualInputOutput(const QString& Name) override;

private:
    struct sDevice
    {
        QString Name;
        cMIDIInputJack* Input = nullptr;
        cMIDIOutputJack* Output = nullptr;
    };

    void StartListing();
    // Compares the server's port lists with the known ones and announces the differences:
    // removals first (each before its opened port is closed), then additions in list order.
    void Poll();
    void Update(QList<sDevice>& Known, const QStringList& Listed, bool Inputs);
    QStringList PickableNames(const QList<sDevice>& Devices) const;
    cMIDIClientJack* Client() const;

    quint64 mSerial = 0;
    bool mListing = false;
    bool mAnnounce = true;
    QList<sDevice> mInputs;
    QList<sDevice> mOutputs;
};
