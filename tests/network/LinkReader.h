#pragma once
// Test helper: takes what a link announces with Read on every MIDIReadReady, as a listener of the
// application would, and keeps the state texts it shows. Test thread only.

#include "network/TCPMIDIInptOutput.h"

#include <QList>
#include <QObject>
#include <QStringList>

class cLinkReader : public QObject
{
public:
    explicit cLinkReader(cTCPMIDIInptOutput& Link)
    {
        connect(&Link, &cMIDIInput::MIDIReadReady, this, [this, &Link] {
            QByteArray piece;
            Link.Read(piece);
            Pieces.append(piece.size());
            Received.append(piece);
        });
        connect(&Link, &cTCPMIDIInptOutput::StateStringChanged, this,
                [this](const QString& State) { States.append(State); });
    }

    QByteArray Received;
    QList<int> Pieces; // the size of each read, one per announcement
    QStringList States;
};
