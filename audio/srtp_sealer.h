#pragma once

#include "media_pipeline.h"

#include <QByteArray>
#include <QObject>

// SRTP for one listener: RTP packets in, encrypted and authenticated
// packets out, on the Qt thread, by GStreamer's srtpenc with the listener's
// key.
class SrtpSealer : public QObject
{
    Q_OBJECT

public:
    explicit SrtpSealer(QObject *parent = nullptr);

    // The element that seals a pipeline's RTP with `key`.
    static QString element(const QByteArray &key);

    // False, with problem set, when it cannot (no SRTP plugin).
    bool start(const QByteArray &key, QString *problem);
    void seal(const QByteArray &rtp);

signals:
    void sealed(const QByteArray &srtp);

private:
    MediaPipeline m_pipeline;
};
