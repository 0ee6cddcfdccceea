#pragma once

class QSerialPort;

// The radio's serial line: 4800 baud, 8 data bits, no parity, 1 stop bit,
// no flow control. Applied to a closed port it takes effect as the port
// opens; applied to an open one, at once.
void setRadioLine(QSerialPort &port);

// Ten bits on the wire for every character: what the line carries at most.
inline constexpr int RadioLineCharactersPerSecond = 480;
