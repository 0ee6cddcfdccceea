#pragma once

#include <QString>

// Field access on one reply. Positions are 1-based and count the two-letter
// code; a reply's terminator is its last character, at position length().
// Positions outside the reply read as empty, so a short reply never fails:
// its numbers read 0 and its character tests do not match.
class ReplyFields
{
public:
    explicit ReplyFields(const QString &reply)
        : m_reply(reply)
    { }

    int length() const { return static_cast<int>(m_reply.size()); }
    QString code() const { return m_reply.left(2); }
    // The characters from position `from` to `to`, both included.
    QString text(int from, int to) const;
    // The character at a position, or a null character beyond the ends.
    QChar at(int position) const;
    // The leading-number value of positions `from` to `to`.
    double number(int from, int to) const;
    // A position counted back from the end: fromEnd(2) is length() - 2.
    int fromEnd(int back) const { return length() - back; }

private:
    const QString &m_reply;
};

// A frequency field read from the end of a reply, from position
// length() - firstBack to length() - lastBack, in units of 10 Hz, as the
// VFO boxes show it: "FA" and "FB" carry it at L-8 to L-2, the status record
// at L-32 to L-26.
QString frequencyFromEnd(const ReplyFields &reply, int firstBack, int lastBack);
