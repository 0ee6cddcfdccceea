#include "reply_fields.h"

#include "app/numbers.h"
#include "tuning/frequency_command.h"

#include <algorithm>

QString ReplyFields::text(int from, int to) const
{
    const int first = std::max(from, 1);
    const int last = std::min(to, length());
    if (first > last)
        return {};
    return m_reply.mid(first - 1, last - first + 1);
}

QChar ReplyFields::at(int position) const
{
    if (position < 1 || position > length())
        return {};
    return m_reply.at(position - 1);
}

double ReplyFields::number(int from, int to) const
{
    return leadingNumber(text(from, to));
}

QString frequencyFromEnd(const ReplyFields &reply, int firstBack, int lastBack)
{
    return frequencyDisplayText(reply.number(reply.fromEnd(firstBack), reply.fromEnd(lastBack)) / 100);
}
