#pragma once
// The MIDI implementation of one console family (docs/consoles): turns the simulator's readable
// commands ("fader 3 100", "mute 2 on", "key play down") into the family's messages on its channel,
// and describes the messages it receives ("fader 3 = 100"). Owned by the simulator; main thread.

#include <QByteArray>
#include <QString>
#include <QStringList>

class cConsoleFamily
{
public:
    enum class eKind
    {
        None, // no family: hex only
        Ny,
        Krt,
        Oskel
    };

    cConsoleFamily() = default;
    // "ny", "krt", "oskel" or a family's full name ("Ny-16", "KRT-8", "Oskel 8"), any case. False
    // for anything else.
    bool SetFamily(const QString& Name);
    // 0-15 (the console's channel 1-16).
    void SetChannel(int Channel) { mChannel = Channel & 0x0F; }

    eKind Kind() const { return mKind; }
    QString Name() const;
    // The discovery text that Quillon sends for this family.
    QString FindText() const;
    static QStringList FamilyNames();

    // A command line into the family's bytes. False when the line is not a command (Error empty:
    // let the caller read it as hex) or is a command with bad arguments (Error says why).
    bool Command(const QString& Line, QByteArray& Bytes, QString& Error) const;
    // What one received message means on this console, or empty. Keeps the parameter number of
    // NRPN sequences between calls.
    QString Describe(const QByteArray& Message);

    int StripCount() const { return mKind == eKind::Ny ? 16 : 8; }
    // Highest fader, pan value.
    int MaxValue() const { return mKind == eKind::Ny ? 127 : 16383; }

private:
    QByteArray Control(int Number, int Value) const;
    QByteArray Nrpn(int Msb, int Lsb, int Value) const;
    QByteArray Exclusive(int Command, int Index, const QByteArray& Data) const;
    QString DescribeControl(int Number, int Value) const;
    QString DescribeParameter(int Msb, int Lsb, int Value) const;

    eKind mKind = eKind::None;
    int mChannel = 0;
    // NRPN state of the received stream (KRT).
    int mParameterMsb = -1;
    int mParameterLsb = -1;
    int mDataMsb = 0;
};
