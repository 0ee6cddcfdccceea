#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The radio's commands as the relay and the simulated radio see them: a
// two-letter code, perhaps an argument, and ";".
namespace CatCommand {

// The code of a command or reply in capitals ("fa;" is FA), after any
// blanks in front of it.
QByteArray code(QByteArrayView text);
// What stands between the code and the ";".
QByteArrayView argument(QByteArrayView command);
// Whether the radio answers the command: one with no argument, but for the
// few that act without one (steps, RIT/XIT offset, transmit and receive).
// Its answer is the first reply with the same code, or "?;" if the radio
// cannot take it.
bool isQuery(QByteArrayView command);
// The radio's reply to a command it cannot take.
inline constexpr QByteArrayView Rejected = "?;";

} // namespace CatCommand
