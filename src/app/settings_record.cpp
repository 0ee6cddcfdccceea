#include "settings_record.h"

#include <cmath>

namespace {

// What a text field can hold: neither a double quote nor a line end.
QByteArray representable(QByteArray text)
{
    text.removeIf([](char c) { return c == '"' || c == '\r' || c == '\n'; });
    return text;
}

QByteArray quoted(const QString &text)
{
    return '"' + representable(text.toLatin1()) + '"';
}

QByteArray boolean(bool value)
{
    return value ? QByteArrayLiteral("#TRUE#") : QByteArrayLiteral("#FALSE#");
}

struct Field
{
    QByteArray text;
    bool quoted = false;
};

// Walks the file one field at a time: a field ends at a comma or a line
// end; a quoted field is the text between its quotes, and ends at the line
// end when its closing quote is missing.
class FieldReader
{
public:
    explicit FieldReader(const QByteArray &contents)
        : m_text(contents)
    {
        // An editor may have put a UTF-8 byte-order mark in front.
        if (m_text.startsWith("\xEF\xBB\xBF"))
            m_pos = 3;
    }

    // The next field, or nothing at the end of the file.
    std::optional<Field> next()
    {
        skipSpaces();
        if (m_pos >= m_text.size())
            return std::nullopt;
        Field field;
        field.quoted = m_text.at(m_pos) == '"';
        if (field.quoted) {
            qsizetype end = m_pos + 1;
            while (end < m_text.size() && m_text.at(end) != '"' && !isLineEnd(m_text.at(end)))
                ++end;
            field.text = m_text.mid(m_pos + 1, end - m_pos - 1);
            m_pos = end < m_text.size() && m_text.at(end) == '"' ? end + 1 : end;
            skipSpaces();
            // Anything between the closing quote and the separator is ignored.
            while (m_pos < m_text.size() && !isSeparator(m_text.at(m_pos)))
                ++m_pos;
        } else {
            const qsizetype start = m_pos;
            while (m_pos < m_text.size() && !isSeparator(m_text.at(m_pos)))
                ++m_pos;
            field.text = m_text.mid(start, m_pos - start).trimmed();
        }
        skipSeparator();
        return field;
    }

private:
    static bool isLineEnd(char c) { return c == '\r' || c == '\n'; }
    static bool isSeparator(char c) { return c == ',' || isLineEnd(c); }

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

std::optional<qint16> portNumber(const Field &field)
{
    if (field.quoted)
        return std::nullopt;
    if (field.text.isEmpty())
        return qint16(0);
    bool ok = false;
    const double value = field.text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    const double whole = std::round(value);
    if (whole < -32768 || whole > 32767)
        return std::nullopt;
    return static_cast<qint16>(whole);
}

// A bare text is taken as it stands, but without the quotes that the writer
// could not give back.
QString textField(const Field &field)
{
    return QString::fromLatin1(field.quoted ? field.text : representable(field.text));
}

std::optional<bool> booleanField(const Field &field)
{
    if (field.quoted)
        return std::nullopt;
    if (field.text == "#TRUE#")
        return true;
    if (field.text == "#FALSE#" || field.text.isEmpty())
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

// Past the end of the file, every further field is missing too.
SettingsRecord parseSettingsRecord(const QByteArray &contents)
{
    SettingsRecord record;
    FieldReader reader(contents);
    if (const auto field = reader.next())
        record.commPortNumber = portNumber(*field);
    if (const auto field = reader.next())
        record.hostAddress = textField(*field);
    if (const auto field = reader.next())
        record.utcOffset = textField(*field);
    if (const auto field = reader.next())
        record.autoConnect = booleanField(*field);
    if (const auto field = reader.next())
        record.debugOn = booleanField(*field);
    return record;
}
