// Uses one class of each linked library, so a missing include root or library fails the build.
#include "MIDITranslator/MIDITranslatorVariable.h"
#include "network/TCPMIDIInptOutput.h"

#include <QCoreApplication>
#include <QJsonObject>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    cTCPMIDIInptOutput link;
    bool ok = false;
    cMIDITranslatorVariable::FromJson(QJsonObject(), &ok);
    return link.IsConnected() ? 1 : 0;
}
