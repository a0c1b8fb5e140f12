#pragma once
// The map checker's port registry: no system devices, and virtual ports that record what is
// written to them instead of reaching a DAW. Owned by the checker's translator configuration.

#include "Common/MIDI/SystemMIDIConfiguration.h"

class cRecordingMIDIPort;

class cRecordingMIDIConfiguration : public cSystemMIDIConfiguration
{
    Q_OBJECT

public:
    explicit cRecordingMIDIConfiguration(QObject* Parent = nullptr) : cSystemMIDIConfiguration(Parent) {}

    int GetInputCount() override { return 0; }
    QString GetInputName(int) override { return QString(); }
    QStringList GetInputNames() override { return QStringList(); }
    int GetOutputCount() override { return 0; }
    QString GetOutputName(int) override { return QString(); }
    QStringList GetOutputNames() override { return QStringList(); }

    // The recording port behind a virtual or registered name, or null.
    cRecordingMIDIPort* RecordingPort(const QString& Name);

protected:
    cMIDIInputOutput* NewVirtualInputOutput(const QString& Name) override;
};
