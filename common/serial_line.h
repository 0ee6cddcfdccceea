#pragma once

class QSerialPort;

// The radio's serial line: 4800 baud, 8 data bits, no parity, 1 stop bit,
// no flow control. Applied to a closed port it takes effect as the port
// opens; applied to an open one, at once.
void setRadioLine(QSerialPort &port);
