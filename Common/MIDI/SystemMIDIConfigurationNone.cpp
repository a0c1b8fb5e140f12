#include "Common/MIDI/SystemMIDIConfigurationNone.h"

#include "Common/MIDI/Virtual/VirtualMIDIInputOutputNone.h"

cSystemMIDIConfigurationNone::cSystemMIDIConfigurationNone(QObject* Parent) : cSystemMIDIConfiguration(Parent) {}

int cSystemMIDIConfigurationNone::GetInputCount()
{
    return 0;
}

QString cSystemMIDIConfigurationNone::GetInputName(int)
{
    return QString();
}

QStringList cSystemMIDIConfigurationNone::GetInputNames()
{
    return QStringList();
}

int cSystemMIDIConfigurationNone::GetOutputCount()
{
    return 0;
}

QString cSystemMIDIConfigurationNone::GetOutputName(int)
{
    return QString();
}

QStringList cSystemMIDIConfigurationNone::GetOutputNames()
{
    return QStringList();
}

cMIDIInputOutput* cSystemMIDIConfigurationNone::NewVirtualInputOutput(const QString& Name)
{
    return new cVirtualMIDIInputOutputNone(Name, this);
}
