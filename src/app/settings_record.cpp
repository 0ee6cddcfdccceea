#include "settings_record.h"

#include <cmath>

namespace {

QByteArray quoted(const QString &text)
{
    QByteArray bytes = text.toLatin1();
    bytes.replace('"', QByteArray());
    return '"' + bytes + '"';
}

QByteArray boolean(bool value)
{
    return value ? QByteArrayLiteral("#TRUE#") : QByteArrayLiteral("#FALSE#");
}

// Walks the file one field at a time: a field ends at a comma or a line
// end; a quoted field is the text between its quotes.
class FieldReader
{
public:
    explicit FieldReader(const QByteArray &contents)
        : m_text(contents)
    { }

    // The next field, or nothing at the end of the file. `wasQuoted` tells a
    // quoted text from a bare one.
    std::optional<QByteArray> next(bool *wasQuoted)
    {
        skipSpaces();
        if (m_pos >= m_text.size())
            return std::nullopt;
        QByteArray field;
        *wasQuoted = m_text.at(m_pos) == '"';
        if (*wasQuoted) {
            const qsizetype close = m_text.indexOf('"', m_pos + 1);
            const qsizetype end = close < 0 ? m_text.size() : close;
            field = m_text.mid(m_pos + 1, end - m_pos - 1);
            m_pos = close < 0 ? end : close + 1;
            skipSpaces();
            // Anything between the closing quote and the separator is ignored.
            while (m_pos < m_text.size() && !isSeparator(m_text.at(m_pos)))
                ++m_pos;
        } else {
            const qsizetype start = m_pos;
            while (m_pos < m_text.size() && !isSeparator(m_text.at(m_pos)))
                ++m_pos;
            field = m_text.mid(start, m_pos - start).trimmed();
        }
        skipSeparator();
        return field;
    }

private:
    static bool isSeparator(char c) { return c == ',' || c == '\r' || c == '\n'; }

    void skipSpaces()
    {
        while (m_pos < m_text.size() && (m_text.at(m_pos) == ' ' || m_text.at(m_pos) == '\t'))
            ++m_pos;
    }

    // One comma, or one line end (CR, LF or both) that ends the field.
    void skipSeparator()
    {
        if (m_pos >= m_text.size())
            return;
        if (m_text.at(m_pos) == ',') {
            ++m_pos;
            return;
        }
        if (m_text.at(m_pos) == '\r')
            ++m_pos;
        if (m_pos < m_text.size() && m_text.at(m_pos) == '\n')
            ++m_pos;
    }

    const QByteArray &m_text;
    qsizetype m_pos = 0;
};

std::optional<qint16> portNumber(const QByteArray &field, bool wasQuoted)
{
    if (wasQuoted)
        return std::nullopt;
    if (field.isEmpty())
        return qint16(0);
    bool ok = false;
    const double value = field.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    const double whole = std::round(value);
    if (whole < -32768 || whole > 32767)
        return std::nullopt;
    return static_cast<qint16>(whole);
}

std::optional<bool> booleanField(const QByteArray &field)
{
    if (field == "#TRUE#")
        return true;
    if (field == "#FALSE#" || field.isEmpty())
        return false;
    return std::nullopt;
}

} // namespace

QByteArray formatSettingsRecord(qint16 commPortNumber, const QString &hostAddress, const QString &utcOffset,
                                bool autoConnect, bool debugOn)
{
    return QByteArray::number(commPortNumber) + ',' + quoted(hostAddress) + ',' + quoted(utcOffset) + ','
        + boolean(autoConnect) + ',' + boolean(debugOn) + "\r\n";
}

SettingsRecord parseSettingsRecord(const QByteArray &contents)
{
    SettingsRecord record;
    FieldReader reader(contents);
    bool quotedField = false;

    auto field = reader.next(&quotedField);
    if (!field || !(record.commPortNumber = portNumber(*field, quotedField)))
        return record;
    if (!(field = reader.next(&quotedField)))
        return record;
    record.hostAddress = QString::fromLatin1(*field);
    if (!(field = reader.next(&quotedField)))
        return record;
    record.utcOffset = QString::fromLatin1(*field);
    if (!(field = reader.next(&quotedField)) || quotedField || !(record.autoConnect = booleanField(*field)))
        return record;
    if (!(field = reader.next(&quotedField)) || quotedField)
        return record;
    record.debugOn = booleanField(*field);
    return record;
}
