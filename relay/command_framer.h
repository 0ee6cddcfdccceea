#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QByteArrayView>

// Cuts what one client sends into whole commands, each up to and including
// its ";", so that only whole commands reach the radio: a command a client
// leaves unfinished can never be completed by someone else's text. A panel
// signs off with "##" where a command could begin (at the start of its text
// or right after a ";"); inside a command "#" is text like any other, as it
// is for every client of a plain line.
class CommandFramer
{
public:
    // No command is longer; one that grows past this without its ";" is line
    // noise, dropped whole up to the ";" that ends it.
    static constexpr qsizetype MaxCommand = 256;

    struct Cut
    {
        QByteArrayList commands;
        bool signedOff = false;
    };

    explicit CommandFramer(bool signOffAllowed)
        : m_signOffAllowed(signOffAllowed)
    { }

    // The whole commands the data completes, in order. Once signed off,
    // everything after the sign-off is ignored.
    Cut feed(QByteArrayView data);
    // What waits for its ";".
    const QByteArray &unfinished() const { return m_pending; }

private:
    QByteArray m_pending;
    bool m_signOffAllowed;
    bool m_discarding = false;
};
