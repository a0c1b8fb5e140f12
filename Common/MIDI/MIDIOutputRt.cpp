#include "Common/MIDI/MIDIOutputRt.h"

#include "Common/LogError.h"
#include "Common/MIDI/MIDIApiRt.h"

cMIDIOutputRt::cMIDIOutputRt(RtMidi::Api Api, const QString& SystemName) : mName(SystemName)
{
    try
    {
        mOut = std::make_unique<RtMidiOut>(Api, cMIDIApiRt::kClientName);
        mOut->setErrorCallback(&Error, this);
        const std::string wanted = SystemName.toStdString();
        const unsigned int count = mOut->getPortCount();
        for (unsigned int i = 0; i < count; ++i)
        {
            if (mOut->getPortName(i) != wanted)
                continue;
            mOut->openPort(i, "Quillon output");
            if (mOut->isPortOpen())
                mSender.SetOutput(mOut.get());
            return;
        }
        LOG_ERROR("Failed to open MIDI output device \"%s\": it is gone", SystemName.toLocal8Bit().constData());
    }
    catch (const RtMidiError& error)
    {
        LOG_ERROR("Failed to open MIDI output device \"%s\": %s", SystemName.toLocal8Bit().constData(), error.what());
    }
}

cMIDIOutputRt::~cMIDIOutputRt()
{
    mSender.SetOutput(nullptr);
    try
    {
        mOut.reset();
    }
    catch (const RtMidiError& error)
    {
        LOG_ERROR("Failed to close MIDI output device \"%s\": %s", mName.toLocal8Bit().constData(), error.what());
    }
}

bool cMIDIOutputRt::IsOpen() const
{
    return mOut && mOut->isPortOpen();
}

void cMIDIOutputRt::Write(const QByteArray& Data)
{
    mSender.Send(Data, mName);
}

void cMIDIOutputRt::Error(RtMidiError::Type, const std::string& Text, void* Port)
{
    LOG_ERROR("MIDI output device \"%s\": %s", static_cast<cMIDIOutputRt*>(Port)->mName.toLocal8Bit().constData(),
              Text.c_str());
}
