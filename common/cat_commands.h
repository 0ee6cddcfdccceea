#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The radio's commands as the relay and the simulated radio see them: a
// two-letter code, perhaps an argument, and ";".
namespace CatCommand {

enum class Kind {
    // The radio answers it with a reply of the same code, or "?;".
    Query,
    // The radio acts on it; it says nothing unless it cannot ("?;"), but
    // with its reports on it tells what changed.
    Set,
};

// The code of a command or reply in capitals ("fa;" is FA), after any
// blanks in front of it.
QByteArray code(QByteArrayView text);
// What stands between the code and the ";".
QByteArrayView argument(QByteArrayView command);
// One table for the relay and the simulated radio: a command without an
// argument asks, but for the few that act without one (steps, RIT/XIT
// offset, band, transmit and receive); a few ask with a one-character
// selector, as Kenwood-family programs send them ("SM0;": the main
// receiver's S-meter).
Kind kind(QByteArrayView command);
inline bool isQuery(QByteArrayView command)
{
    return kind(command) == Kind::Query;
}
// Whether it asks with a selector, which the Q9 itself does not know.
bool hasSelector(QByteArrayView command);
// Whether the radio may be sent it: printable text, and the line breaks a
// CW text may hold. Control bytes could slip past the relay's reading of a
// command and mean something else to the radio.
bool isPrintable(QByteArrayView command);
// Whether it keys the transmitter: transmit, a tune carrier, CW text.
bool keysTransmitter(QByteArrayView command);
// Whether it is the radio's refusal.
bool isRejection(QByteArrayView reply);
// No command is longer: CW text is the longest.
inline constexpr qsizetype MaxLength = 256;
// The radio's reply to a command it cannot take.
inline constexpr QByteArrayView Rejected = "?;";

} // namespace CatCommand
