#include "cat_commands.h"

#include <algorithm>
#include <cctype>

namespace {

// The commands that act without an argument.
constexpr QByteArrayView ActionsWithoutArgument[] = {"UP", "DN", "RU", "RD", "RC", "BU", "BD", "TX", "RX"};
// The queries that name what they ask with one character.
constexpr QByteArrayView SelectorQueries[] = {"SM", "AG", "SQ"};

QByteArrayView withoutBlanks(QByteArrayView text)
{
    while (!text.isEmpty() && std::isspace(static_cast<unsigned char>(text.front())))
        text = text.sliced(1);
    return text;
}

bool listed(const auto &codes, QByteArrayView code)
{
    return std::find(std::begin(codes), std::end(codes), code) != std::end(codes);
}

} // namespace

namespace CatCommand {

QByteArray code(QByteArrayView text)
{
    const QByteArrayView start = withoutBlanks(text);
    return start.first(std::min<qsizetype>(2, start.size())).toByteArray().toUpper();
}

QByteArrayView argument(QByteArrayView command)
{
    QByteArrayView rest = withoutBlanks(command);
    rest = rest.sliced(std::min<qsizetype>(2, rest.size()));
    return rest.endsWith(';') ? rest.chopped(1) : rest;
}

bool hasSelector(QByteArrayView command)
{
    return argument(command).size() == 1 && listed(SelectorQueries, code(command));
}

Kind kind(QByteArrayView command)
{
    const QByteArray commandCode = code(command);
    if (commandCode.size() < 2)
        return Kind::Set;
    if (argument(command).isEmpty())
        return listed(ActionsWithoutArgument, commandCode) ? Kind::Set : Kind::Query;
    return hasSelector(command) ? Kind::Query : Kind::Set;
}

bool isPrintable(QByteArrayView command)
{
    return std::all_of(command.begin(), command.end(),
                       [](char c) { return (c >= ' ' && c <= '~') || c == '\r' || c == '\n'; });
}

bool keysTransmitter(QByteArrayView command)
{
    const QByteArray commandCode = code(command);
    const QByteArrayView commandArgument = argument(command);
    return commandCode == "TX" || (commandCode == "SW" && commandArgument.trimmed() == "20")
        || (commandCode == "KY" && !commandArgument.isEmpty());
}

bool isRejection(QByteArrayView reply)
{
    return withoutBlanks(reply) == Rejected;
}

} // namespace CatCommand
