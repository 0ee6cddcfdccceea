#include "network_path.h"
#include "programs.h"
#include "radio_watch.h"
#include "sound_server.h"
#include "stand_ins.h"
#include "station.h"
#include "tls_front.h"

#include "audio_pass.h"
#include "audio_stream.h"
#include "identity.h"
#include "output_alignment.h"
#include "sim_receiver.h"
#include "transmitter.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QNetworkDatagram>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtEndian>

#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <numbers>
#include <optional>

namespace {

// The simulated receiver's audio, served by the station's relay on the
// panel's host.
void serveAudio(Station &station, SimReceiver &receiver, const QString &address)
{
    auto stream
        = std::make_unique<AudioStream>([&receiver](std::span<qint16> samples) { receiver.fill(samples); });
    if (!station.relay()->serveAudio(address + QStringLiteral(":0"), std::move(stream)))
        qWarning("relay audio: %s", qPrintable(station.relay()->errorString()));
}

// A tone as a sound chip delivers it: mono, 16 bits, little-endian.
QByteArray toneOf(int hertz, int seconds)
{
    QByteArray samples(qsizetype(2) * SoundServer::SampleRate * seconds, Qt::Uninitialized);
    for (qsizetype i = 0; i < samples.size() / 2; ++i) {
        const double phase = 2 * std::numbers::pi * hertz * double(i) / SoundServer::SampleRate;
        qToLittleEndian(qint16(6000 * std::sin(phase)), samples.data() + 2 * i);
    }
    return samples;
}

// A station whose relay serves the simulated receiver's audio, and a sound
// server for the panel to play into.
struct ListeningStation
{
    explicit ListeningStation(const QStringList &otherSinks = {})
        : sound(otherSinks)
        , address(loopbackAddress())
    {
        station.startRelay(address);
        serveAudio(station, receiver, address);
    }
    // The relay's stream hears the receiver until the relay goes.
    ~ListeningStation() { station.stopRelay(); }
    SoundServer sound;
    Station station;
    SimReceiver receiver{station.radio};
    QString address;
};

// The key kept at `path` (made there if new), listed in `folder`'s
// operators with `role`.
Identity listedKey(const QString &path, const QString &folder, const QString &role = QStringLiteral("listen"))
{
    const Identity key = *Identity::loadOrCreate(path, {}, nullptr);
    QFile operators(folder + QStringLiteral("/operators"));
    if (operators.open(QIODevice::Append))
        operators.write(QStringLiteral("%1 %2 operator\n").arg(key.fingerprint(), role).toUtf8());
    return key;
}

// q9sim serving its radio and audio on loopback, securely to the operators
// `folder` lists, with its key kept there.
QStringList simArguments(bool secure, const QString &folder)
{
    if (!secure)
        return {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--audio")};
    return {QStringLiteral("--listen"),
            QStringLiteral("tls:127.0.0.1:0"),
            QStringLiteral("--audio"),
            QStringLiteral("--state"),
            folder,
            QStringLiteral("--operators"),
            folder + QStringLiteral("/operators")};
}

constexpr int Settle = 15000;

// The pitch the sink plays once a quarter of a second of `pitch` is heard
// within Settle, or else the last heard. Not asked again once heard: on a
// busy machine one late block after it must not undo what was heard.
int pitchHeard(SoundServer &sound, int pitch, const QString &sink = QStringLiteral("q9test"))
{
    const QDeadlineTimer deadline(Settle);
    int heard = pitchOf(sound.record(SoundServer::SampleRate / 4, sink));
    while (heard != pitch && !deadline.hasExpired()) {
        QTest::qWait(50);
        heard = pitchOf(sound.record(SoundServer::SampleRate / 4, sink));
    }
    return heard;
}
const QString OurStream = QStringLiteral("Q9 Remote");

// The audio port a relay's greeting names, once its audio flows (0 if it
// never does).
quint16 offeredAudioPort(TestClient &panel)
{
    if (!QTest::qWaitFor([&] { return panel.received.contains("audio=") && panel.received.endsWith(';'); },
                         Settle))
        return 0;
    return panel.received.mid(panel.received.indexOf("audio=") + 6).chopped(1).toUShort();
}

qsizetype openDescriptors()
{
    return QDir(QStringLiteral("/proc/self/fd"))
        .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
        .size();
}

// The seconds of `samples` that are silent, in 10 ms blocks, from `from`
// seconds on; and the end of the first silent stretch, in seconds, where
// the sound came back.
struct Silence
{
    double seconds = 0;
    double firstEnd = 0;
};

Silence silenceIn(const QList<qint16> &samples, double from = 0)
{
    constexpr int Block = SoundServer::SampleRate / 100;
    Silence silence;
    bool firstStretch = true;
    for (qsizetype at = qsizetype(from * SoundServer::SampleRate); at + Block <= samples.size();
         at += Block) {
        if (levelOf(std::span(samples).subspan(at, Block)) < 0.01) {
            silence.seconds += 0.01;
            if (firstStretch)
                silence.firstEnd = double(at + Block) / SoundServer::SampleRate;
        } else {
            firstStretch = silence.seconds == 0;
        }
    }
    return silence;
}

} // namespace

class AudioTest : public QObject
{
    Q_OBJECT

private slots:
    void receiverFollowsTheRadio_data();
    void receiverFollowsTheRadio();
    void panelPlaysTheRadio();
    void panelPlaysASecureRelay();
    void microphoneReachesTheRadio();
    void transmitterLetGoOfALostPanel_data();
    void transmitterLetGoOfALostPanel();
    void audioCrossesTheInternet_data();
    void audioCrossesTheInternet();
    void udpAudioOnlyToItsPanel();
    void audioChoiceIsRemembered();
    void failuresLeaveTheLink_data();
    void failuresLeaveTheLink();
    void windowGoesOnWhileAudioConnects_data();
    void windowGoesOnWhileAudioConnects();
    void simulatorServesFramedOpus_data();
    void simulatorServesFramedOpus();
    void audioClientsLimited_data();
    void audioClientsLimited();
    void relayUsesAnAlsaDevice();
    void audioSourcesListed();
    void outputKeepsToTheClock_data();
    void outputKeepsToTheClock();
};

void AudioTest::receiverFollowsTheRadio_data()
{
    QTest::addColumn<QByteArray>("tuning");
    QTest::addColumn<QByteArray>("gain");
    QTest::addColumn<int>("pitch");
    QTest::addColumn<double>("level");
    QTest::newRow("carrier 600 Hz above VFO A") << QByteArray() << QByteArray() << 600 << 1.0;
    QTest::newRow("100 Hz higher") << QByteArray("FA00014060100;") << QByteArray() << 500 << 1.0;
    QTest::newRow("VFO above the carrier") << QByteArray("FA00014061800;") << QByteArray() << 1200 << 1.0;
    QTest::newRow("3 kHz away is out") << QByteArray("FA00014063600;") << QByteArray() << 0 << 1.0;
    QTest::newRow("VFO B receiving") << QByteArray("FB00014060300;FR1;") << QByteArray() << 300 << 1.0;
    QTest::newRow("VFO B set, A receiving") << QByteArray("FB00014060300;") << QByteArray() << 600 << 1.0;
    QTest::newRow("preamp") << QByteArray() << QByteArray("PA1;") << 600 << 2.0;
    QTest::newRow("attenuator") << QByteArray("FA00014063600;") << QByteArray("RA01;") << 0 << 0.25;
}

// The tone is the carrier's distance from the receive VFO; the preamp and
// the attenuator scale all that is heard.
void AudioTest::receiverFollowsTheRadio()
{
    QFETCH(QByteArray, tuning);
    QFETCH(QByteArray, gain);
    QFETCH(int, pitch);
    QFETCH(double, level);
    SimRadio plainRadio, radio;
    SimReceiver plain(plainRadio), receiver(radio);
    plainRadio.receive(tuning);
    radio.receive(tuning + gain);
    std::vector<qint16> heard(SoundServer::SampleRate / 2), reference(heard.size());
    receiver.fill(heard);
    plain.fill(reference);
    QCOMPARE(pitchOf(heard), pitch);
    QVERIFY(std::abs(levelOf(heard) / levelOf(reference) - level) < 0.05 * level);
}

// The tone follows the radio, each panel plays a stream of its own, and the
// audio goes with the link and comes back when the operator links again.
void AudioTest::panelPlaysTheRadio()
{
    ListeningStation listening;
    Station &station = listening.station;
    station.start();
    PERFORM(station, "link server " + listening.address);
    QCOMPARE(pitchHeard(listening.sound, 600), 600);
    QCOMPARE(listening.sound.streams(), QStringList({OurStream, OurStream}));
    PERFORM(station, QStringLiteral("click up100hx"));
    QCOMPARE(pitchHeard(listening.sound, 500), 500);
    {
        RecordingDialogs otherDialogs;
        otherDialogs.inputAnswers = {listening.address};
        Rmt_Q9 other(otherDialogs);
        other.findChild<QAction *>(QStringLiteral("Set_Host_Addr"))->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(listening.sound.streams(), QStringList(4, OurStream), Settle);
        QCOMPARE(station.relay()->audioListenerCount(), 2);
    }
    station.stopRelay();
    QTRY_COMPARE_WITH_TIMEOUT(listening.sound.streams(), QStringList(), Settle);
    // The link's own box, and none for the audio that went with it.
    QTRY_COMPARE_WITH_TIMEOUT(station.dialogs.messages.size(), 1, Settle);
    QVERIFY(!QTest::qWaitFor([&] { return station.dialogs.messages.size() > 1; }, 2000));
    station.startRelay(listening.address);
    serveAudio(station, listening.receiver, listening.address);
    PERFORM(station, "link server " + listening.address);
    QCOMPARE(pitchHeard(listening.sound, 500), 500);
    QCOMPARE(station.dialogs.messages.size(), 1);
}

// While the operator transmits, the desktop's microphone plays into the
// relay's sink for the radio's input, with its pitch; at no other time is
// a microphone open or anything played there.
void AudioTest::microphoneReachesTheRadio()
{
    const QString radioInput = QStringLiteral("radio_input");
    ListeningStation listening({radioInput});
    Station &station = listening.station;
    station.relay()->playTransmitAudio(radioInput);
    station.start();
    PERFORM(station, "link server " + listening.address);
    QCOMPARE(pitchHeard(listening.sound, 600), 600);
    QCOMPARE(levelOf(listening.sound.record(SoundServer::SampleRate / 2, radioInput)), 0.0);
    QCOMPARE(listening.sound.recordings(), QStringList());
    PERFORM(station, "trigger transmit_cmd");
    QTRY_VERIFY(station.radio.state().transmitting);
    QCOMPARE(pitchHeard(listening.sound, SoundServer::MicrophonePitch, radioInput),
             SoundServer::MicrophonePitch);
    QVERIFY(listening.sound.recordings().contains(QStringLiteral("Q9 Remote microphone")));
    PERFORM(station, "trigger transmit_cmd");
    QTRY_VERIFY(!station.radio.state().transmitting);
    QTRY_COMPARE(listening.sound.recordings(), QStringList());
    // What was under way when it ended plays out, and then nothing.
    QTRY_COMPARE(levelOf(listening.sound.record(SoundServer::SampleRate / 10, radioInput)), 0.0);
    QCOMPARE(levelOf(listening.sound.record(SoundServer::SampleRate / 2, radioInput)), 0.0);
    // Each transmission's pipelines, the microphone's and the radio
    // input's, leave nothing open behind them.
    const qsizetype descriptors = openDescriptors();
    for (int transmission = 0; transmission < 3; ++transmission) {
        PERFORM(station, "trigger transmit_cmd");
        QTRY_VERIFY(listening.sound.recordings().contains(QStringLiteral("Q9 Remote microphone")));
        PERFORM(station, "trigger transmit_cmd");
        QTRY_COMPARE(listening.sound.recordings(), QStringList());
    }
    QTRY_COMPARE(openDescriptors(), descriptors);
    QCOMPARE(station.dialogs.messages, QStringList());
}

void AudioTest::transmitterLetGoOfALostPanel_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("frozen") << SIGSTOP;
    QTest::newRow("killed") << SIGKILL;
    QTest::newRow("cut off") << 0;
}

// However the operator's computer fails while the operator talks, frozen,
// killed or cut off from the relay, the radio is unkeyed within the lease,
// and what the panel sends once it is back keys nothing and plays nothing.
void AudioTest::transmitterLetGoOfALostPanel()
{
    QFETCH(int, signalNumber);
    const QString radioInput = QStringLiteral("radio_input");
    SoundServer sound({radioInput});
    NetworkPath path;
    QString problem;
    if (!path.open(&problem, {20, 5, 0}))
        QSKIP(qPrintable(problem));
    const QString relayAddress = path.address(NetworkPath::Far);
    QProcess sim;
    const QStringList command = path.inNamespace(
        NetworkPath::Far, QStringLiteral(Q9SIM_PATH),
        {QStringLiteral("--listen"), relayAddress + QStringLiteral(":0"), QStringLiteral("--audio"),
         QStringLiteral("--audio-sink"), radioInput, QStringLiteral("--allow"),
         path.address(NetworkPath::Near) + u',' + relayAddress});
    sim.setProcessChannelMode(QProcess::MergedChannels);
    const quint16 port = startListening(sim, command.first(), command.mid(1));
    QVERIFY(port);
    // Watched from the relay's own computer, where the path's failure is not felt.
    QVERIFY(path.enter(NetworkPath::Far));
    QTcpSocket watching;
    watching.connectToHost(QHostAddress(relayAddress), port);
    path.leave();
    RadioWatch radio(watching);
    // What the relay and the panel said tells why, should the row fail.
    const auto tellOnFailure = qScopeGuard([&sim] {
        if (QTest::currentTestFailed())
            qInfo("The relay said:\n%s", sim.readAll().constData());
    });
    QProcess panel;
    panel.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QStringList operating
        = path.inNamespace(NetworkPath::Near, QStringLiteral(PANEL_PROCESS_PATH),
                           {QStringLiteral("answer %1:%2|trigger Set_Host_Addr|trigger transmit_cmd")
                                .arg(relayAddress)
                                .arg(port)});
    panel.start(operating.first(), operating.mid(1));
    QVERIFY(QTest::qWaitFor([&] { return panel.readAllStandardOutput().contains("done"); }, Settle));
    QTRY_COMPARE(radio.transmitting(), true);
    QCOMPARE(pitchHeard(sound, SoundServer::MicrophonePitch, radioInput), SoundServer::MicrophonePitch);
    constexpr std::chrono::milliseconds Outage{3000};
    if (signalNumber)
        ::kill(pid_t(panel.processId()), signalNumber);
    else
        path.cutFor(Outage);
    QVERIFY(QTest::qWaitFor([&] { return radio.transmitting() == false; },
                            int(Transmitter::Lease.count()) + 500));
    if (signalNumber == SIGSTOP)
        ::kill(pid_t(panel.processId()), SIGCONT);
    else if (!signalNumber)
        QTest::qWait(Outage.count());
    QTest::qWait(1000);
    QCOMPARE(radio.transmitting(), false);
    QCOMPARE(levelOf(sound.record(SoundServer::SampleRate / 2, radioInput)), 0.0);
    panel.kill();
    panel.waitForFinished();
    QVERIFY(stopWith(sim, SIGTERM));
}

// On a secure link the audio comes sealed with SRTP under the panel's pass,
// which went over TLS, and plays as on a plain link; the operator's
// microphone goes back sealed under the same key.
void AudioTest::panelPlaysASecureRelay()
{
    const QString radioInput = QStringLiteral("radio_input");
    SoundServer sound({radioInput});
    Station station;
    QTemporaryDir shack;
    listedKey(station.path(QStringLiteral("q9remote-key.pem")), shack.path(), QStringLiteral("transmit"));
    QProcess sim;
    sim.setProcessChannelMode(QProcess::MergedChannels);
    const quint16 port = startListening(sim, QStringLiteral(Q9SIM_PATH),
                                        simArguments(true, shack.path())
                                            + QStringList{QStringLiteral("--audio-sink"), radioInput});
    QVERIFY(port);
    station.dialogs.questionAnswers = {true};
    PERFORM(station, QStringLiteral("answer tls:127.0.0.1:%1|trigger Set_Host_Addr").arg(port));
    QCOMPARE(pitchHeard(sound, 600), 600);
    QCOMPARE(sound.streams(), QStringList({OurStream, OurStream}));
    PERFORM(station, QStringLiteral("trigger transmit_cmd"));
    QCOMPARE(pitchHeard(sound, SoundServer::MicrophonePitch, radioInput), SoundServer::MicrophonePitch);
    PERFORM(station, QStringLiteral("trigger transmit_cmd"));
    QCOMPARE(station.dialogs.messages.size(), 1);
    QVERIFY(stopWith(sim, SIGTERM));
    QVERIFY(sim.readAll().contains(", sealed\n"));
}

void AudioTest::audioCrossesTheInternet_data()
{
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<int>("jitterMs");
    QTest::addColumn<double>("lossPercent");
    QTest::addColumn<bool>("udp");
    QTest::addColumn<int>("outageMs");
    QTest::addColumn<int>("seconds");
    QTest::addColumn<double>("mostSilent");
    QTest::addColumn<QString>("way");
    QTest::newRow("80 +- 20 ms, 1% lost") << 80 << 20 << 1.0 << true << 0 << 30 << 0.25 << "audio over UDP";
    QTest::newRow("300 ms each way") << 300 << 0 << 0.0 << true << 0 << 15 << 0.25 << "audio over UDP";
    QTest::newRow("3 s outage at 80 ms") << 80 << 0 << 0.0 << true << 3000 << 8 << 0.25 << "audio over UDP";
    QTest::newRow("TCP alone, as through an SSH tunnel")
        << 80 << 0 << 0.0 << false << 0 << 10 << 0.25 << "accepted audio client";
}

// The panel on one end of an emulated internet path, q9sim's relay on the
// other: the tone plays with at most so much silence (none but the
// outage's, and a loaded machine's rare late block), comes back within a
// second of an outage's end, and rides UDP where it passes, TCP where it
// does not; the operator's microphone goes back the same way.
void AudioTest::audioCrossesTheInternet()
{
    QFETCH(int, delayMs);
    QFETCH(int, jitterMs);
    QFETCH(double, lossPercent);
    QFETCH(bool, udp);
    QFETCH(int, outageMs);
    QFETCH(int, seconds);
    QFETCH(double, mostSilent);
    QFETCH(QString, way);
    const QString radioInput = QStringLiteral("radio_input");
    SoundServer sound({radioInput});
    NetworkPath path;
    QString problem;
    if (!path.open(&problem, {delayMs, jitterMs, lossPercent}))
        QSKIP(qPrintable(problem));
    path.passUdp(udp);
    const QString relayAddress = path.address(NetworkPath::Far);
    QProcess sim;
    sim.setProcessChannelMode(QProcess::MergedChannels);
    const QStringList command
        = path.inNamespace(NetworkPath::Far, QStringLiteral(Q9SIM_PATH),
                           {QStringLiteral("--listen"), relayAddress + QStringLiteral(":0"),
                            QStringLiteral("--audio"), QStringLiteral("--audio-sink"), radioInput,
                            QStringLiteral("--allow"), path.address(NetworkPath::Near)});
    const quint16 port = startListening(sim, command.first(), command.mid(1));
    QVERIFY(port);
    QVERIFY(path.enter(NetworkPath::Near));
    {
        Station station;
        station.start();
        PERFORM(station, QStringLiteral("answer %1:%2|trigger Set_Host_Addr").arg(relayAddress).arg(port));
        QCOMPARE(pitchHeard(sound, 600), 600);
        if (outageMs)
            path.cutFor(std::chrono::milliseconds(outageMs));
        const QList<qint16> heard = sound.record(seconds * SoundServer::SampleRate);
        QCOMPARE(pitchOf(std::span(heard).last(SoundServer::SampleRate / 4)), 600);
        const Silence silence = silenceIn(heard, outageMs / 1000.0);
        QVERIFY2(silence.seconds <= mostSilent + (outageMs ? 1.0 : 0.0),
                 qPrintable(QStringLiteral("%1 s silent").arg(silence.seconds)));
        if (outageMs)
            QVERIFY2(silence.firstEnd <= outageMs / 1000.0 + 1.0,
                     qPrintable(QStringLiteral("back after %1 s").arg(silence.firstEnd)));
        PERFORM(station, QStringLiteral("trigger transmit_cmd"));
        QCOMPARE(pitchHeard(sound, SoundServer::MicrophonePitch, radioInput), SoundServer::MicrophonePitch);
        PERFORM(station, QStringLiteral("trigger transmit_cmd"));
        QCOMPARE(station.dialogs.messages, QStringList());
    }
    path.leave();
    QVERIFY(stopWith(sim, SIGTERM));
    QVERIFY2(sim.readAll().contains(way.toUtf8()), qPrintable(way));
}

// The relay's UDP audio goes only where a report signed with the panel's
// pass comes from, newer than the last: a stranger's report, a copy of the
// panel's from another address, or one signed with another pass gets
// nothing. It stops with the panel's link.
void AudioTest::udpAudioOnlyToItsPanel()
{
    QProcess sim;
    const quint16 port = startListening(sim, QStringLiteral(Q9SIM_PATH), simArguments(false, {}));
    QVERIFY(port);
    auto panel = std::make_unique<TestClient>(port);
    const quint16 audioPort = offeredAudioPort(*panel);
    const QString greeting = QString::fromLatin1(panel->received);
    const auto pass = AudioPass::fromText(greeting.section(QStringLiteral("udp="), -1).section(u' ', 0, 0));
    QVERIFY(pass);
    // Each socket sends one report and counts the datagrams it then gets.
    struct Reporter
    {
        QUdpSocket socket;
        int heard = 0;
    };
    Reporter genuine, copier, forger;
    const auto report = [audioPort](Reporter &reporter, const char *address, const QByteArray &report) {
        reporter.socket.bind(QHostAddress(QString::fromLatin1(address)));
        QObject::connect(&reporter.socket, &QUdpSocket::readyRead, [&reporter] {
            while (reporter.socket.hasPendingDatagrams() && reporter.socket.readDatagram(nullptr, 0) >= 0)
                ++reporter.heard;
        });
        reporter.socket.writeDatagram(report, QHostAddress::LocalHost, audioPort);
    };
    const QByteArray genuineReport = pass->report({}, 1);
    report(genuine, "127.0.0.1", genuineReport);
    report(copier, "127.0.0.4", genuineReport);
    report(forger, "127.0.0.5", AudioPass::make().report({}, 2));
    QTRY_VERIFY_WITH_TIMEOUT(genuine.heard > 20, Settle);
    panel.reset();
    QTest::qWait(500);
    const int heardBy = genuine.heard;
    QTest::qWait(500);
    QCOMPARE(genuine.heard, heardBy);
    QCOMPARE(copier.heard + forger.heard, 0);
    QVERIFY(stopWith(sim, SIGTERM));
}

// "Audio" turns the sound off and on, is kept from one run to the next, and
// leaves the settings record as it was.
void AudioTest::audioChoiceIsRemembered()
{
    ListeningStation listening;
    Station &station = listening.station;
    const QByteArray record
        = QStringLiteral("1,\"%1\",\"+0\",#FALSE#,#FALSE#\r\n").arg(listening.address).toLatin1();
    station.writeSettings(record);
    station.start();
    QCOMPARE(shown(station.control(QStringLiteral("audio_on"))), QStringLiteral("checked"));
    PERFORM(station, "link server " + listening.address);
    QTRY_COMPARE_WITH_TIMEOUT(listening.sound.streams(), QStringList({OurStream, OurStream}), Settle);

    PERFORM(station, QStringLiteral("trigger audio_on"));
    QCOMPARE(listening.sound.streams(), QStringList());
    QCOMPARE(levelOf(listening.sound.record(SoundServer::SampleRate / 10)), 0.0);
    PERFORM(station, QStringLiteral("close"));
    QCOMPARE(station.settings(), record);

    station.start();
    QCOMPARE(shown(station.control(QStringLiteral("audio_on"))), QStringLiteral("unchecked"));
    PERFORM(station, "link server " + listening.address);
    QCOMPARE(listening.sound.streams(), QStringList());
    PERFORM(station, QStringLiteral("trigger audio_on"));
    QCOMPARE(pitchHeard(listening.sound, 600), 600);
    QCOMPARE(station.dialogs.messages, QStringList());
}

void AudioTest::failuresLeaveTheLink_data()
{
    QTest::addColumn<QString>("greeting");
    QTest::addColumn<QString>("audio");
    QTest::addColumn<QString>("message");
    const QString offer = QStringLiteral("!!Q9 relay ready audio=PORT;");
    QTest::newRow("relay without audio") << QStringLiteral("!!Q9 relay ready;") << "refuses" << QString();
    QTest::newRow("audio port refuses")
        << offer << "refuses" << QStringLiteral("! No audio from the relay at HOST:PORT: Connection refused");
    QTest::newRow("no output device") << offer << "no output"
                                      << QStringLiteral("! No audio output for the radio's audio: Failed to "
                                                        "connect: Connection refused");
    QTest::newRow("audio port hangs up")
        << offer << "hangs up"
        << QStringLiteral("! No audio from the relay at HOST:PORT: The remote host closed the connection");
    QTest::newRow("another key on the audio port")
        << offer << "another key"
        << QStringLiteral("! No audio from the relay at HOST:PORT: it presented another key for the audio "
                          "than for the link, and nothing is played from it.\r\n\r\nLink: LINKKEY\r\n"
                          "Audio: AUDIOKEY");
}

// At most one box, naming what is missing, and the radio stays linked.
void AudioTest::failuresLeaveTheLink()
{
    QFETCH(QString, greeting);
    QFETCH(QString, audio);
    QFETCH(QString, message);
    SoundServer sound;
    Station station;
    station.start();
    const QString address = loopbackAddress();
    // A relay whose audio port, if it names one, refuses or hangs up.
    QTcpServer audioPort;
    QVERIFY(audioPort.listen(QHostAddress(address)));
    QString port = QString::number(audioPort.serverPort());
    if (audio == u"refuses")
        audioPort.close();
    // One packet of a stream, so that the player goes on to its output.
    const QByteArray packet = QByteArray::fromHex("000c80600001000001e000000007");
    QObject::connect(&audioPort, &QTcpServer::newConnection, &audioPort, [&audioPort, &audio, &packet] {
        QTcpSocket *client = audioPort.nextPendingConnection();
        if (audio == u"no output")
            client->write(packet);
        else
            delete client;
    });
    // Or a secure link whose audio port, in front of that, has a key of its own.
    std::unique_ptr<TlsFront> audioFront, linkFront;
    QString host = address;
    if (audio == u"another key") {
        host = loopbackAddress();
        linkFront
            = std::make_unique<TlsFront>(station.path(QStringLiteral("relay-key.pem")), address + ":2300");
        QVERIFY(linkFront->listen(QHostAddress(host), 2300));
        audioFront = std::make_unique<TlsFront>(station.path(QStringLiteral("audio-key.pem")),
                                                address + u':' + port);
        QVERIFY(audioFront->listen(QHostAddress(host)));
        port = QString::number(audioFront->serverPort());
        station.dialogs.questionAnswers = {true};
        message.replace(QStringLiteral("LINKKEY"), linkFront->identity.fingerprint())
            .replace(QStringLiteral("AUDIOKEY"), audioFront->identity.fingerprint());
    }
    const RelayStandIn relay(station.radio, address, greeting.replace(QStringLiteral("PORT"), port));
    QVERIFY(relay.isListening());
    if (audio == u"no output")
        qputenv("PULSE_SERVER", "unix:/nonexistent/q9test");
    PERFORM(station, QStringLiteral("answer %1%2|trigger Set_Host_Addr").arg(linkFront ? "tls:" : "", host));
    PERFORM(station, QStringLiteral("click up100hx"));
    TRY_COMPARE_SHOWS(station, "vfoa_edbox=14060.10|Q9_present_ind= Q9 Present");
    message.replace(QStringLiteral("HOST"), host).replace(QStringLiteral("PORT"), port);
    QTRY_COMPARE_WITH_TIMEOUT(station.dialogs.messages.filter(QRegularExpression(QStringLiteral("^[^?]"))),
                              message.isEmpty() ? QStringList() : QStringList{message}, Settle);
    QCOMPARE(sound.streams(), QStringList());
}

void AudioTest::windowGoesOnWhileAudioConnects_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QStringList>("told");
    QTest::newRow("port drops")
        << QStringLiteral("click att_cmd")
        << QStringList{
               QStringLiteral("! No audio from the relay at HOST:PORT: nothing came within 2 seconds")};
    QTest::newRow("audio off while it connects")
        << QStringLiteral("click att_cmd|trigger audio_on") << QStringList();
}

// The operator's steps, taken as soon as the radio hears the probe, come
// before anything the audio port has to tell; the audio's failure is told
// once and holds nothing up. The radio answers only once the audio has had
// its say (or is off), so a box that held the probe would hold it for good.
void AudioTest::windowGoesOnWhileAudioConnects()
{
    QFETCH(QString, steps);
    QFETCH(QStringList, told);
    SoundServer sound;
    Station station;
    station.start();
    const QString address = loopbackAddress();
    const DroppingPort audioPort(address);
    QVERIFY(audioPort.port());
    const QString port = QString::number(audioPort.port());
    RelayStandIn relay(station.radio, address, QStringLiteral("!!Q9 relay ready audio=%1;").arg(port));
    QVERIFY(relay.isListening());
    FIND_CONTROL(QAction, audioOn, station, QStringLiteral("audio_on"));
    relay.holdAnswers = [&] { return station.dialogs.messages.isEmpty() && audioOn->isChecked(); };
    const QString probed = QStringLiteral("vfoa_edbox=14060.00|Q9_present_ind= Q9 Present");
    bool boxHeldTheProbe = false;
    station.dialogs.whileMessageOpen = [&] {
        boxHeldTheProbe = !QTest::qWaitFor([&] { return station.shows(probed) == probed; }, Settle);
    };
    QString failedStep;
    QStringList toldBeforeSteps{QStringLiteral("<the radio never heard the probe>")};
    QObject::connect(
        &station.radio, &SimRadio::output, &relay,
        [&] {
            toldBeforeSteps = station.dialogs.messages;
            failedStep = station.perform(steps);
        },
        Qt::SingleShotConnection);

    PERFORM(station, QStringLiteral("answer %1|trigger Set_Host_Addr").arg(address));
    QVERIFY2(failedStep.isEmpty(), qPrintable(failedStep));
    QCOMPARE(toldBeforeSteps, QStringList());
    QVERIFY(!boxHeldTheProbe);
    TRY_COMPARE_SHOWS(station, probed + QStringLiteral("|att_cmd=ATT green"));
    told.replaceInStrings(QStringLiteral("HOST"), address).replaceInStrings(QStringLiteral("PORT"), port);
    QTRY_COMPARE_WITH_TIMEOUT(station.dialogs.messages, told, Settle);
    QVERIFY(!QTest::qWaitFor([&] { return station.dialogs.messages != told; }, 7000));
}

void AudioTest::simulatorServesFramedOpus_data()
{
    QTest::addColumn<bool>("secure");
    QTest::newRow("plain: a stranger by address") << false;
    QTest::newRow("tls: a stranger by key") << true;
}

// q9sim --audio names its audio port in the greeting (or in the greeting
// sent again when its audio starts flowing) and sends Opus in RTP, each
// packet after its length, one 10 ms frame after another, to the clients it
// allows and to no other: on a secure port, to the operators' keys alone.
void AudioTest::simulatorServesFramedOpus()
{
    QFETCH(bool, secure);
    QTemporaryDir folder;
    const Identity operatorKey
        = listedKey(folder.filePath(QStringLiteral("operator-key.pem")), folder.path());
    const Identity strangerKey
        = *Identity::loadOrCreate(folder.filePath(QStringLiteral("stranger-key.pem")), {}, nullptr);
    QProcess sim;
    const quint16 port = startListening(sim, QStringLiteral(Q9SIM_PATH),
                                        simArguments(secure, folder.path())
                                            << QStringLiteral("--allow") << QStringLiteral("127.0.0.2"));
    QVERIFY(port);
    const QHostAddress allowed(QStringLiteral("127.0.0.2"));
    const Identity *key = secure ? &operatorKey : nullptr;
    TestClient panel(port, allowed, key);
    const quint16 audioPort = offeredAudioPort(panel);
    // The pass comes before the port, where a panel that knows only the
    // port still finds it.
    const QRegularExpression offer(
        QStringLiteral("^(!!Q9 relay ready tx=180;)?!!Q9 relay ready tx=180 udp=[A-Za-z0-9_-]{40} audio=%1;$")
            .arg(audioPort));
    QVERIFY2(offer.match(QString::fromLatin1(panel.received)).hasMatch(), panel.received.constData());

    TestClient stranger(audioPort, secure ? allowed : QHostAddress(QStringLiteral("127.0.0.3")),
                        secure ? &strangerKey : nullptr);
    TestClient listener(audioPort, allowed, key);
    QTRY_VERIFY_WITH_TIMEOUT(
        listener.received.size() > 2000 && stranger.isClosed() && stranger.received.isEmpty(), Settle);
    const QByteArray &stream = listener.received;
    const char *previous = nullptr;
    for (qsizetype at = 0; at + 14 <= stream.size();
         at += 2 + qFromBigEndian<quint16>(stream.constData() + at)) {
        const char *rtp = stream.constData() + at + 2;
        QCOMPARE(quint8(rtp[0]) >> 6, 2);
        QCOMPARE(quint8(rtp[1]) & 0x7f, 96);
        if (previous) {
            QCOMPARE(quint16(qFromBigEndian<quint16>(rtp + 2) - qFromBigEndian<quint16>(previous + 2)), 1);
            QCOMPARE(qFromBigEndian<quint32>(rtp + 4) - qFromBigEndian<quint32>(previous + 4), 480u);
        }
        previous = rtp;
    }
    QVERIFY(stopWith(sim, SIGTERM));
}

void AudioTest::audioClientsLimited_data()
{
    QTest::addColumn<int>("most");
    QTest::addColumn<int>("descriptors");
    QTest::newRow("their own limit") << 3 << 0;
    QTest::newRow("descriptors kept for the radio's clients") << 64 << 56;
}

// Audio clients beyond their limit, or while descriptors run short, are let
// go at once; panels and CAT programs are always answered.
void AudioTest::audioClientsLimited()
{
    QFETCH(int, most);
    QFETCH(int, descriptors);
    QProcess sim;
    // The relay starts with its standard descriptors alone, as a service
    // does: what this test program has open is not for it to count.
    sim.setChildProcessModifier([descriptors] {
        const rlimit limit{rlim_t(descriptors), rlim_t(descriptors)};
        if (!descriptors)
            return;
        ::close_range(3, ~0U, 0);
        ::setrlimit(RLIMIT_NOFILE, &limit);
    });
    const quint16 port = startListening(sim, QStringLiteral(Q9SIM_PATH),
                                        {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                                         QStringLiteral("--audio"), QStringLiteral("--max-audio-clients"),
                                         QString::number(most)});
    std::vector<std::unique_ptr<TestClient>> panels;
    panels.push_back(std::make_unique<TestClient>(port));
    const quint16 audioPort = offeredAudioPort(*panels.front());
    std::vector<std::unique_ptr<TestClient>> listeners;
    for (int i = 0; i < 40; ++i)
        listeners.push_back(std::make_unique<TestClient>(audioPort));
    QTRY_VERIFY_WITH_TIMEOUT(std::all_of(listeners.begin(), listeners.end(),
                                         [](const auto &listener) {
                                             return listener->isClosed() || listener->received.size() > 100;
                                         }),
                             Settle);
    const auto heard = std::count_if(listeners.begin(), listeners.end(),
                                     [](const auto &listener) { return !listener->isClosed(); });
    QVERIFY2(descriptors ? heard > 0 && heard < 40 - 4 : heard == most, qPrintable(QString::number(heard)));
    for (int i = 0; i < 4; ++i)
        panels.push_back(std::make_unique<TestClient>(port));
    const auto busy = [](const auto &panel) { return panel->received == RelayServer::BusyText; };
    QTRY_VERIFY_WITH_TIMEOUT(
        std::all_of(panels.begin(), panels.end(),
                    [&](const auto &panel) { return panel->received.endsWith(';') || busy(panel); }),
        Settle);
    QCOMPARE(std::count_if(panels.begin(), panels.end(), busy), 1);
    QVERIFY(stopWith(sim, SIGTERM));
}

// The shack's board runs no sound server: the relay captures the radio's
// sound chip through ALSA, here a device defined in the relay's own ALSA
// configuration that plays a tone file. While the device cannot be opened
// the radio stays served; once it can, a panel linked meanwhile plays it.
// The operator's microphone goes into another, which writes what it plays
// to a file.
void AudioTest::relayUsesAnAlsaDevice()
{
    SoundServer sound;
    QTemporaryDir board;
    const QString tone = board.filePath(QStringLiteral("tone.raw"));
    QFile asoundrc(board.filePath(QStringLiteral(".asoundrc")));
    QVERIFY(asoundrc.open(QIODevice::WriteOnly));
    const QString input = board.filePath(QStringLiteral("input.raw"));
    // What the file plugin plays or records it also writes to its file.
    const QString pcm
        = QStringLiteral("pcm.%1 { type plug slave { pcm { type file slave.pcm null file \"%2\" %3 "
                         "format raw } format S16_LE rate %4 channels 1 } }\n");
    asoundrc.write((pcm.arg(QStringLiteral("radio"), QStringLiteral("/dev/null"),
                            QStringLiteral("infile \"%1\"").arg(tone))
                        .arg(SoundServer::SampleRate)
                    + pcm.arg(QStringLiteral("radio_input"), input, QString()).arg(SoundServer::SampleRate))
                       .toLatin1());
    asoundrc.close();
    QProcess sim;
    sim.start(QStringLiteral(Q9SIM_PATH), {QStringLiteral("--pty"), board.filePath(QStringLiteral("radio"))});
    QTRY_VERIFY(QFileInfo::exists(board.filePath(QStringLiteral("radio"))));
    QProcess relay;
    // A board of its own, with no sound server; the sanitizers' options
    // still reach it.
    QProcessEnvironment alone = QProcessEnvironment::systemEnvironment();
    alone.remove(QStringLiteral("PULSE_SERVER"));
    alone.insert(QStringLiteral("HOME"), board.path());
    alone.insert(QStringLiteral("XDG_RUNTIME_DIR"), board.path());
    relay.setProcessEnvironment(alone);
    const QString address = loopbackAddress();
    QVERIFY(startListening(relay, QStringLiteral(Q9RELAY_PATH),
                           {QStringLiteral("--device"), board.filePath(QStringLiteral("radio")),
                            QStringLiteral("--listen"), address + QStringLiteral(":2300"),
                            QStringLiteral("--audio-source"), QStringLiteral("alsa:radio"),
                            QStringLiteral("--audio-sink"), QStringLiteral("alsa:radio_input")}));
    QByteArray log;
    const auto logged = [&](const char *line) {
        log += relay.readAllStandardError();
        return log.contains(line);
    };
    QTRY_VERIFY_WITH_TIMEOUT(logged("no audio from ALSA device radio: Recording open error on device "
                                    "'radio': No such file or directory; trying again every 5 seconds"),
                             Settle);
    Station station;
    station.start();
    PERFORM(station, QStringLiteral("answer %1|trigger Set_Host_Addr").arg(address));
    TRY_COMPARE_SHOWS(station, "vfoa_edbox=14060.00|Q9_present_ind= Q9 Present");
    QCOMPARE(sound.streams(), QStringList());

    QFile samples(tone);
    QVERIFY(samples.open(QIODevice::WriteOnly));
    samples.write(toneOf(600, 30));
    samples.close();
    QTRY_VERIFY_WITH_TIMEOUT(logged("audio from ALSA device radio\n"), Settle);
    QCOMPARE(pitchHeard(sound, 600), 600);
    // The operator's microphone goes into the other device, opened only
    // while the operator transmits.
    QVERIFY(!QFileInfo::exists(input));
    PERFORM(station, QStringLiteral("trigger transmit_cmd"));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(input).size() > 0, Settle);
    PERFORM(station, QStringLiteral("trigger transmit_cmd"));
    QTest::qWait(int(TransmitAudio::Playout.count()) + 500);
    const qint64 played = QFileInfo(input).size();
    QTest::qWait(500);
    QCOMPARE(QFileInfo(input).size(), played);
    QCOMPARE(station.dialogs.messages, QStringList());
    QVERIFY(stopWith(relay, SIGTERM));
    QVERIFY(stopWith(sim, SIGTERM));
}

// The sources to choose from, as the device monitor finds them: a sound
// server's by name; none, and where to define one, on a board without.
void AudioTest::audioSourcesListed()
{
    std::optional<SoundServer> sound(std::in_place, QStringList{QStringLiteral("radio")});
    QProcess relay;
    relay.start(QStringLiteral(Q9RELAY_PATH), {QStringLiteral("--list-audio-sources")});
    QVERIFY(relay.waitForFinished(ProcessTimeout));
    const QString listed = QString::fromLocal8Bit(relay.readAllStandardOutput());
    QVERIFY2(listed.contains(QRegularExpression(QStringLiteral("^radio.monitor +Monitor of"),
                                                QRegularExpression::MultilineOption)),
             qPrintable(listed));
    sound.reset();
    relay.start(QStringLiteral(Q9RELAY_PATH), {QStringLiteral("--list-audio-sources")});
    QVERIFY(relay.waitForFinished(ProcessTimeout));
    QCOMPARE(relay.exitCode(), 0);
    QCOMPARE(relay.readAllStandardOutput(), QByteArray());
    QVERIFY(relay.readAllStandardError().startsWith("q9relay: no audio sources found"));
}

// Drifts read one after another, in milliseconds, and how far the output
// is moved in all, and how often.
void AudioTest::outputKeepsToTheClock_data()
{
    QTest::addColumn<QList<double>>("drifts");
    QTest::addColumn<double>("moved");
    QTest::addColumn<int>("moves");
    const auto repeated = [](double drift, int times) { return QList<double>(times, drift); };
    QTest::newRow("started late: put right at once") << QList<double>{1700, 0.5, -0.5} << -1700.0 << 1;
    QTest::newRow("its clock ahead just as far") << QList<double>{-25, 0, 0} << 25.0 << 1;
    QTest::newRow("the server's timing, left alone") << repeated(1.9, 2) + repeated(-1.9, 40) << 0.0 << 0;
    QTest::newRow("one late reading is no drift")
        << repeated(0, 20) + QList<double>{15} + repeated(0, 20) << 0.0 << 0;
    QTest::newRow("a drift undone once it is a steady one") << repeated(0, 20) + repeated(3, 18) << -2.0 << 1;
}

void AudioTest::outputKeepsToTheClock()
{
    QFETCH(QList<double>, drifts);
    QFETCH(double, moved);
    QFETCH(int, moves);
    OutputAlignment alignment;
    double total = 0;
    int count = 0;
    for (const double drift : drifts) {
        const auto correction = alignment.correction(std::chrono::microseconds(qint64(drift * 1000)));
        total += double(correction.count()) / 1e6;
        count += correction.count() != 0;
    }
    QCOMPARE(count, moves);
    QVERIFY2(std::abs(total - moved) < 0.1, qPrintable(QString::number(total)));
}

QTEST_MAIN(AudioTest)
#include "tst_audio.moc"
