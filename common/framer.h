#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QByteArrayView>

// Cuts a stream of the radio's text into pieces that each end with ";", in
// order, with nothing stripped: a command a client sends, a reply the radio
// gives. Whatever follows the last ";" waits for the rest. A piece that grows
// past its limit without its ";" is line noise: it is dropped whole, up to
// and including the ";" that ends it, so that its tail can never pass for a
// piece of its own.
//
// Where a sign-off is given ("##" for a panel on the relay), that text where
// a piece could begin ends the stream: nothing from there on is cut.
class Framer
{
public:
    explicit Framer(qsizetype limit, QByteArrayView signOff = {})
        : m_limit(limit)
        , m_signOff(signOff.toByteArray())
    { }

    // The whole pieces the data completes.
    QByteArrayList feed(QByteArrayView data);
    // What waits for its ";".
    const QByteArray &unfinished() const { return m_pending; }
    bool signedOff() const { return m_signedOff; }

private:
    bool reachedSignOff() const;

    qsizetype m_limit;
    QByteArray m_signOff;
    QByteArray m_pending;
    bool m_discarding = false;
    bool m_signedOff = false;
};
