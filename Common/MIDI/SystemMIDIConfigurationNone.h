#pragma once
// The port registry of a build without a MIDI back-end: it lists no system devices, and its virtual
// ports cannot reach a DAW. Owned by the translator configuration; used on the GUI thread only.

#include "Common/MIDI/SystemMIDIConfiguration.h"

class cSystemMIDIConfigurationNone : public cSystemMIDIConfiguration
{
    Q_OBJECT

public:
    explicit cSystemMIDIConfigurationNone(QObject* Parent = nullptr);

    int GetInputCount() override;
    QString GetInputName(int Index) override;
    QStringList GetInputNames() override;
    int GetOutputCount() override;
    QString GetOutputName(int Index) override;
    QStringList GetOutputNames() override;

protected:
    cMIDIInputOutput* NewVirtualInputOutput(const QString& Name) override;
};
