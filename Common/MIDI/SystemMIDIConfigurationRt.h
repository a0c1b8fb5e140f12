#pragma once
// The port registry through RtMidi where no JACK server runs (the ALSA sequencer on Linux, CoreMIDI
// on macOS): lists the system's MIDI ports under names that survive re-plugging, opens a
// port the first time its name is asked for, and, from the first time a port or a list is asked
// for, polls the port lists once a second to announce ports that come and go. Owned by the
// translator configuration; GUI thread only.

#include "Common/MIDI/SystemMIDIConfiguration.h"

#include <QList>
#include <QTimer>

#include <RtMidi.h>

#include <memory>

class cMIDIInputRt;
class cMIDIOutputRt;

// One system port as the MIDI system lists it.
struct sMIDIDeviceInfoRt
{
    // The name RtMidi lists, which identifies the port while it is plugged in.
    QString SystemName;
    // The name shown to the user and stored in the settings.
    QString Name;
    cMIDIInputRt* Input = nullptr;
    cMIDIOutputRt* Output = nullptr;
};

class cSystemMIDIConfigurationRt : public cSystemMIDIConfiguration
{
    Q_OBJECT

public:
    explicit cSystemMIDIConfigurationRt(QObject* Parent = nullptr);
    ~cSystemMIDIConfigurationRt() override;

    int GetInputCount() override;
    QString GetInputName(int Index) override;
    cMIDIInput* GetInput(QString Name) override;
    QStringList GetInputNames() override;
    int GetOutputCount() override;
    QString GetOutputName(int Index) override;
    cMIDIOutput* GetOutput(QString Name) override;
    QStringList GetOutputNames() override;

    // The MIDI system in use; RtMidi::UNSPECIFIED when none opened.
    RtMidi::Api GetApi() const { return mApi; }

    // The user-visible name of a port that Api lists as SystemName: ALSA's client and port
    // numbers, which change when a device is plugged in again, are cut off.
    static QString UserName(RtMidi::Api Api, const QString& SystemName);
    // Whether Name, as listed, is one of Quillon's own ports: it contains "Quillon MIDI", or a
    // client of Quillon's holds it.
    static bool IsOwnPort(const QString& Name);

protected:
    cMIDIInputOutput* NewVirtualInputOutput(const QString& Name) override;

private:
    // Opens what lists the ports, reads the lists and starts the poll; once, on first need.
    void StartListing();
    void FirstPoll();
    // Compares the system's port lists with the known ones and announces the differences:
    // removals first (each before its opened port is closed), then additions in list order.
    void Poll();
    QStringList List(RtMidi& Lister);
    void Update(QList<sMIDIDeviceInfoRt>& Known, const QStringList& Listed, bool Inputs);
    QStringList PickableNames(const QList<sMIDIDeviceInfoRt>& Devices) const;
    static void Error(RtMidiError::Type Type, const std::string& Text, void* Registry);

    RtMidi::Api mApi = RtMidi::UNSPECIFIED;
    std::unique_ptr<RtMidiIn> mInputLister;
    std::unique_ptr<RtMidiOut> mOutputLister;
    bool mListing = false;
    bool mAnnounce = true;
    QList<sMIDIDeviceInfoRt> mInputs;
    QList<sMIDIDeviceInfoRt> mOutputs;
    QTimer mPollTimer;
};
