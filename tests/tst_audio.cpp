#include "programs.h"
#include "pseudo_terminal.h"
#include "sound_server.h"

#include "sim_receiver.h"

#include <QTemporaryDir>
#include <QtEndian>

namespace {

constexpr int Settle = 15000;

} // namespace

class AudioTest : public QObject {
  Q_OBJECT

private slots:
  void receiverFollowsTheRadio_data();
  void receiverFollowsTheRadio();
  void simulatorServesFramedOpus();
  void relayRefusesAMissingSource();
};

void AudioTest::receiverFollowsTheRadio_data() {
  QTest::addColumn<QByteArray>("tuning");
  QTest::addColumn<QByteArray>("gain");
  QTest::addColumn<int>("pitch");
  QTest::addColumn<double>("level");
  QTest::newRow("carrier 600 Hz above VFO A")
      << QByteArray() << QByteArray() << 600 << 1.0;
  QTest::newRow("100 Hz higher")
      << QByteArray("FA00014060100;") << QByteArray() << 500 << 1.0;
  QTest::newRow("VFO above the carrier")
      << QByteArray("FA00014061800;") << QByteArray() << 1200 << 1.0;
  QTest::newRow("3 kHz away is out")
      << QByteArray("FA00014063600;") << QByteArray() << 0 << 1.0;
  QTest::newRow("VFO B receiving")
      << QByteArray("FB00014060300;FR1;") << QByteArray() << 300 << 1.0;
  QTest::newRow("VFO B set, A receiving")
      << QByteArray("FB00014060300;") << QByteArray() << 600 << 1.0;
  QTest::newRow("preamp") << QByteArray() << QByteArray("PA1;") << 600 << 2.0;
  QTest::newRow("attenuator")
      << QByteArray("FA00014063600;") << QByteArray("RA01;") << 0 << 0.25;
}

// The tone is the carrier's distance from the receive VFO; the preamp and
// the attenuator scale all that is heard.
void AudioTest::receiverFollowsTheRadio() {
  QFETCH(QByteArray, tuning);
  QFETCH(QByteArray, gain);
  QFETCH(int, pitch);
  QFETCH(double, level);
  SimRadio plainRadio;
  SimReceiver plain(plainRadio);
  SimRadio radio;
  SimReceiver receiver(radio);
  plainRadio.receive(tuning);
  radio.receive(tuning + gain);
  std::vector<qint16> heard(SoundServer::SampleRate / 2);
  std::vector<qint16> reference(heard.size());
  receiver.fill(heard);
  plain.fill(reference);
  QCOMPARE(pitchOf(heard), pitch);
  QVERIFY(std::abs(levelOf(heard) / levelOf(reference) - level) < 0.05 * level);
}

// q9sim --audio names its audio port in the greeting and sends Opus in
// RTP, each packet after its length, one 20 ms frame after another, to the
// clients it allows and to no other.
void AudioTest::simulatorServesFramedOpus() {
  QProcess sim;
  const quint16 port =
      startListening(sim, QStringLiteral(Q9SIM_PATH),
                     {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                      QStringLiteral("--audio"), QStringLiteral("--allow"),
                      QStringLiteral("127.0.0.2")});
  QVERIFY(port);
  const QHostAddress allowed(QStringLiteral("127.0.0.2"));
  TestClient panel(port, allowed);
  QTRY_VERIFY_WITH_TIMEOUT(panel.received.endsWith(';'), Settle);
  const quint16 audioPort =
      panel.received.mid(panel.received.indexOf("audio=") + 6)
          .chopped(1)
          .toUShort();
  QCOMPARE(
      panel.received,
      QStringLiteral("!!Q9 relay ready audio=%1;").arg(audioPort).toLatin1());

  TestClient stranger(audioPort, QHostAddress(QStringLiteral("127.0.0.3")));
  TestClient listener(audioPort, allowed);
  QTRY_VERIFY_WITH_TIMEOUT(listener.received.size() > 2000 &&
                               stranger.isClosed() &&
                               stranger.received.isEmpty(),
                           Settle);
  const QByteArray &stream = listener.received;
  const char *previous = nullptr;
  for (qsizetype at = 0; at + 14 <= stream.size();
       at += 2 + qFromBigEndian<quint16>(stream.constData() + at)) {
    const char *rtp = stream.constData() + at + 2;
    QCOMPARE(quint8(rtp[0]) >> 6, 2);
    QCOMPARE(quint8(rtp[1]) & 0x7f, 96);
    if (previous) {
      QCOMPARE(quint16(qFromBigEndian<quint16>(rtp + 2) -
                       qFromBigEndian<quint16>(previous + 2)),
               1);
      QCOMPARE(qFromBigEndian<quint32>(rtp + 4) -
                   qFromBigEndian<quint32>(previous + 4),
               960u);
    }
    previous = rtp;
  }
  QVERIFY(stopWith(sim, SIGTERM));
}

void AudioTest::relayRefusesAMissingSource() {
  SoundServer sound;
  QTemporaryDir dir;
  PseudoTerminal radio;
  QVERIFY(radio.open() &&
          radio.createLink(dir.filePath(QStringLiteral("radio"))));
  QProcess relay;
  relay.start(QStringLiteral(Q9RELAY_PATH),
              {QStringLiteral("--device"), radio.linkPath(),
               QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
               QStringLiteral("--audio-source"),
               QStringLiteral("no_such_source")});
  QVERIFY(relay.waitForFinished(ProcessTimeout));
  QCOMPARE(relay.exitCode(), 1);
  QCOMPARE(relay.readAllStandardError(),
           "q9relay: no audio from source no_such_source: Failed to connect "
           "stream: No such entity\n");
}

QTEST_MAIN(AudioTest)
#include "tst_audio.moc"
