#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>

// GStreamer's types, named here so that users need not see its headers.
typedef struct _GstElement GstElement;
typedef struct _GstMessage GstMessage;

// A GStreamer pipeline with a Qt face: built from a gst-launch description,
// started and stopped from the Qt thread, and its first error or its end
// reported once as a signal on that thread. The media work itself (capture,
// codec, RTP, jitter buffer, output) is GStreamer's.
class MediaPipeline : public QObject
{
    Q_OBJECT

public:
    explicit MediaPipeline(QObject *parent = nullptr);
    ~MediaPipeline() override;

    // Builds and starts it, after `prepare` has hooked into its elements;
    // false, with errorString() naming what is missing or failed, when it
    // cannot run.
    bool start(const QString &description, const std::function<void()> &prepare = {});
    // Stops it and lets it go; nothing is reported after this.
    void stop();
    bool isRunning() const { return m_pipeline != nullptr; }
    // Times the running pipeline by the system's clock rather than by an
    // element's (an output's, say).
    void useSystemClock();
    // Keeps the running pipeline's audio output `output` where the
    // pipeline's clock puts each buffer (OutputAlignment), a delay that
    // changed taken up at once rather than played on from the last buffer.
    void keepInLine(const char *output);
    // Plays the running pipeline `latency` behind its sources, whatever its
    // elements reckon they need.
    void setLatency(std::chrono::nanoseconds latency);
    // An element of the running pipeline by its name, or null.
    GstElement *element(const char *name) const;
    // Gives the running pipeline's srtpdec `decrypter` the one key of every
    // stream it meets (AudioStreamFormat's protection).
    void keyDecrypter(const char *decrypter, const QByteArray &key);
    // Bytes into the running pipeline's appsrc `source`, which flow on from
    // there as a source's own would; and the end of them.
    void push(const char *source, const QByteArray &bytes);
    void endStream(const char *source);
    // What reaches the running pipeline's appsink `sink`, a buffer at a
    // time, handed to `take` on the pipeline's thread while this run lasts.
    // Beyond `most` not yet taken, the newest are dropped: a source faster
    // than time (a file at its end, a failing driver) piles nothing up.
    void takeFrom(const char *sink, int most, std::function<void(const QByteArray &)> take);
    QString errorString() const { return m_errorString; }
    // The element that kept start() from running it, when one did.
    QString failedElement() const { return m_failedElement; }

    // Starts GStreamer once for the program; false, with problem set, when
    // it cannot.
    static bool initialise(QString *problem);

    // A text as a quoted property value of a description, so that no text
    // can add elements of its own.
    static QString quoted(const QString &text);

signals:
    // The first error of a run: the name of the element whose resource
    // failed (empty for an error of the stream itself), and what went wrong.
    void failed(const QString &element, const QString &why);
    // The stream ended (its source closed).
    void ended();

private:
    friend struct BusWatch;
    friend struct Tap;
    void report(GstMessage *message);
    QString failureOf(GstMessage *message, QString *element = nullptr) const;

    GstElement *m_pipeline = nullptr;
    // Which run a message belongs to, so a stopped run's last words are not
    // taken for the next one's.
    quint64 m_run = 0;
    bool m_reported = false;
    QString m_errorString;
    QString m_failedElement;
};
