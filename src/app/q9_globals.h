#pragma once

#include <QString>
#include <QtGlobal>

// The state that every handler of the window shares. Each member starts
// unset, which reads as 0, false or empty: an unset RxVfo means VFO A.
struct Q9_globals
{
    qint16 CommPortNumber = 0; // serial port to open, 1..10
    QString HostAddress;       // relay server address
    QString UtcOffset;         // hours added to local time, as typed
    bool AutoConnect = false;  // open the serial link at start-up
    bool DebugOn = false;      // debug console shown

    bool LinkIsTcp = false;    // commands go to the socket, else the serial port
    bool LinkIsSerial = false; // the serial link was opened last
    bool TcpSendComplete = false;
    double ReplyTimeout = 0;      // seconds a probe waits for a reply
    bool AwaitingReply = false;   // a probe waits; every reply clears it
    bool RadioPresent = false;    // the radio answered the "Q9" probe
    bool ServerConnected = false; // the relay server's greeting arrived

    qint16 RxVfo = 0; // 0 = VFO A, otherwise B
    bool Transmitting = false;
    double RitOn = 0; // 1 = on
    double XitOn = 0; // 1 = on
    bool AttenuatorOn = false;
    bool PreampOn = false;
    qint16 FineTunePosition = 0; // slider position last sent, -50..+50
    double FineTuneStepHz = 0;   // hertz per fine-tune position
};
