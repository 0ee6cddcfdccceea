#include "cat_commands.h"

#include <algorithm>
#include <cctype>

namespace {

// The commands that act without an argument, and so are not queries.
constexpr QByteArrayView ActionsWithoutArgument[] = {"RU", "RD", "RC", "UP", "DN", "TX", "RX"};

QByteArrayView withoutBlanks(QByteArrayView text)
{
    while (!text.isEmpty() && std::isspace(static_cast<unsigned char>(text.front())))
        text = text.sliced(1);
    return text;
}

} // namespace

namespace CatCommand {

QByteArray code(QByteArrayView text)
{
    return withoutBlanks(text).first(std::min<qsizetype>(2, withoutBlanks(text).size())).toByteArray().toUpper();
}

QByteArrayView argument(QByteArrayView command)
{
    QByteArrayView rest = withoutBlanks(command);
    rest = rest.sliced(std::min<qsizetype>(2, rest.size()));
    return rest.endsWith(';') ? rest.chopped(1) : rest;
}

bool isQuery(QByteArrayView command)
{
    const QByteArray commandCode = code(command);
    return commandCode.size() == 2 && argument(command).isEmpty()
        && std::none_of(std::begin(ActionsWithoutArgument), std::end(ActionsWithoutArgument),
                        [&commandCode](QByteArrayView action) { return action == commandCode; });
}

} // namespace CatCommand
