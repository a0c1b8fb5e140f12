#pragma once
// One virtual port pair offered to the DAW through the virtual MIDI driver. Created and destroyed
// by the registry on the GUI thread, where Write and Read run too; bytes from the DAW arrive on the
// driver's thread through the port table.

#include "Common/MIDI/MIDIInputOutput.h"
#include "Common/MIDI/MidiParser.h"
#include "Common/MIDI/Virtual/VirtualMIDIDriverWin.h"
#include "Common/MIDI/MIDIReceiveBuffer.h"

#include <QByteArray>
#include <QString>

class cVirtualMIDIInputOutputWin : public cMIDIInputOutput, public cMidiParser
{
public:
    cVirtualMIDIInputOutputWin(const QString& Name, QObject* Parent);
    ~cVirtualMIDIInputOutputWin() override;
    cVirtualMIDIInputOutputWin(const cVirtualMIDIInputOutputWin&) = delete;
    cVirtualMIDIInputOutputWin& operator=(const cVirtualMIDIInputOutputWin&) = delete;

    void Read(QByteArray& Data) override;
    // Parses the bytes and sends each complete message to the driver on its own.
    void Write(const QByteArray& Data) override;

    // The driver's data callback; the object is found through the port table.
    static void CALLBACK DriverCallback(tVirtualMIDIPort Port, LPBYTE Bytes, DWORD Length, DWORD_PTR Instance);
    // Appends bytes from the DAW and announces them, while a receiver listens; called by the port
    // table, under its lock, on the driver's thread.
    void Received(const QByteArray& Bytes);

    static constexpr DWORD kMaxSysExLength = 6553;

protected:
    bool SysEx() override;
    bool NoteOff(uint8_t Key, uint8_t Velocity) override;
    bool NoteOn(uint8_t Key, uint8_t Velocity) override;
    bool PolyPressure(uint8_t Key, uint8_t Pressure) override;
    bool ControlChange(uint8_t Controller, uint8_t Value) override;
    bool ProgramChange(uint8_t Program) override;
    bool ChannelPressure(uint8_t Pressure) override;
    bool PitchBend(uint8_t Lsb, uint8_t Msb) override;
    bool MTCQuarterFrame(uint8_t Value) override;
    bool SongPosition(uint8_t Lsb, uint8_t Msb) override;
    bool SongSelect(uint8_t Song) override;
    bool TuneRequest() override;

private:
    // Sends the parser's status byte and the next Length - 1 data bytes.
    bool SendShort(int Length, uint8_t Data1 = 0, uint8_t Data2 = 0);

    tVirtualMIDIPort mPort = nullptr;
    cMIDIReceiveBuffer mReceived;
    BYTE mSendBuffer[3] = {0, 0, 0};
};
