#include "sim_radio.h"

#include "cat_commands.h"
#include "serial_line.h"

#include <QHash>

#include <functional>

#include <algorithm>
#include <optional>

using namespace std::chrono_literals;

namespace {

constexpr QByteArrayView IdentityReply = "ID900;";
constexpr QByteArrayView ProbeReply = "Q91;";

constexpr int AgcFast = 2;
constexpr int AgcSlow = 4;
constexpr int MaxPowerTenths = 150;
constexpr int MaxPowerWatts = 15;
constexpr int OffsetStep = 10;
constexpr int MaxOffset = 9990;
constexpr qsizetype MaxKeyText = 24;
constexpr int WideFilter = 1;
constexpr int NarrowFilter = 3;
constexpr int FilterBandwidths[] = {2500, 1800, 500, 250};
constexpr int FilterCount = int(std::size(FilterBandwidths));

struct Band
{
    qint64 low;
    qint64 high;
    qint64 start;
};

// Where band up/down lands the first time: quiet CW and data spots.
// clang-format off
constexpr Band Bands[] = {
    {1'800'000, 2'000'000, 1'836'000},
    {3'500'000, 4'000'000, 3'560'000},
    {7'000'000, 7'300'000, 7'030'000},
    {10'100'000, 10'150'000, 10'116'000},
    {14'000'000, 14'350'000, 14'060'000},
    {18'068'000, 18'168'000, 18'086'000},
    {21'000'000, 21'450'000, 21'060'000},
    {24'890'000, 24'990'000, 24'906'000},
    {28'000'000, 29'700'000, 28'060'000},
    {50'000'000, 54'000'000, 50'090'000},
};
// clang-format on
constexpr int BandTotal = int(std::size(Bands));

int bandAt(qint64 hz)
{
    const auto band = std::find_if(std::begin(Bands), std::end(Bands),
                                   [hz](const Band &b) { return hz >= b.low && hz <= b.high; });
    return band == std::end(Bands) ? -1 : int(band - std::begin(Bands));
}

int bandAbove(qint64 hz)
{
    for (int i = 0; i < BandTotal; ++i) {
        if (Bands[i].low > hz)
            return i;
    }
    return 0;
}

int bandBelow(qint64 hz)
{
    for (int i = BandTotal - 1; i >= 0; --i) {
        if (Bands[i].high < hz)
            return i;
    }
    return BandTotal - 1;
}

bool isValidMode(int digit)
{
    return digit == 1 || digit == 2 || digit == 3 || digit == 6 || digit == 7 || digit == 9;
}

bool isCwMode(int digit)
{
    return digit == 3 || digit == 7;
}

int stepSize(QByteArrayView argument)
{
    if (argument == "1")
        return 10;
    if (argument == "3")
        return 50;
    if (argument == "4")
        return 1000;
    return 0;
}

QByteArrayView withoutLeadingSpace(QByteArrayView text)
{
    while (!text.isEmpty()
           && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r' || text.front() == '\n')) {
        text = text.sliced(1);
    }
    return text;
}

std::optional<qint64> digits(QByteArrayView text, qsizetype minWidth, qsizetype maxWidth)
{
    if (text.size() < minWidth || text.size() > maxWidth)
        return std::nullopt;
    qint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::optional<int> field(QByteArrayView text, int width, int min, int max)
{
    const auto value = digits(text, width, width);
    if (!value || *value < min || *value > max)
        return std::nullopt;
    return int(*value);
}

QByteArray padded(qint64 value, int width)
{
    return QByteArray::number(value).rightJustified(width, '0');
}

char digit(int value)
{
    return char('0' + value);
}

} // namespace

// Settings that are one number of fixed width, read and set the same way.
struct SimRadio::Setting
{
    QByteArrayView code;
    int width;
    int min;
    int max;
    int RadioState::*value;
};

// clang-format off
const SimRadio::Setting SimRadio::settings[] = {
    {"FR", 1, 0, 1, &RadioState::receiveVfo},
    {"FT", 1, 0, 1, &RadioState::transmitVfo},
    {"KS", 3, 9, 50, &RadioState::keyerSpeed},
    {"SQ", 3, 0, 255, &RadioState::squelch},
    {"PA", 1, 0, 1, &RadioState::preamp},
    {"RA", 2, 0, 1, &RadioState::attenuator},
    {"AN", 1, 1, 2, &RadioState::antenna},
};
// clang-format on

SimRadio::SimRadio(QObject *parent)
    : QObject(parent)
    , m_meter(QRandomGenerator::global()->generate())
{
    for (const Band &band : Bands)
        m_bandMemory.append(band.start);
    m_transmitTimer.setSingleShot(true);
    connect(&m_transmitTimer, &QTimer::timeout, this, &SimRadio::endTransmission);
    connect(&m_pacer, &LinePacer::output, this, &SimRadio::output);
    connect(&m_inputPacer, &LinePacer::output, this, &SimRadio::take);
}

void SimRadio::setProbeAnswer(ProbeAnswer answer)
{
    m_probeAnswer = answer;
}

void SimRadio::setSilent(bool silent)
{
    m_silent = silent;
}

void SimRadio::setPaced(bool paced)
{
    const int pace = paced ? RadioLineCharactersPerSecond : 0;
    m_pacer.setCharactersPerSecond(pace);
    m_inputPacer.setCharactersPerSecond(pace);
}

void SimRadio::setPowerForm(PowerForm form)
{
    m_powerForm = form;
}

void SimRadio::setTuneDuration(std::chrono::milliseconds duration)
{
    m_tuneDuration = duration;
}

void SimRadio::setSeed(quint32 seed)
{
    m_meter = SignalMeter(seed);
}

bool SimRadio::setVfoA(qint64 hz)
{
    return setFrequency(0, hz);
}

bool SimRadio::setVfoB(qint64 hz)
{
    return setFrequency(1, hz);
}

bool SimRadio::setMode(int digit)
{
    if (!isValidMode(digit))
        return false;
    // CW wants a narrow crystal filter, voice and data a wide one.
    if (isCwMode(digit) != isCwMode(m_state.mode))
        m_state.crystalFilter = isCwMode(digit) ? NarrowFilter : WideFilter;
    m_state.mode = digit;
    return true;
}

void SimRadio::receive(const QByteArray &bytes)
{
    m_inputPacer.write(bytes);
}

void SimRadio::take(const QByteArray &bytes)
{
    for (const QByteArray &command : m_input.feed(bytes)) {
        const QByteArrayView trimmed = withoutLeadingSpace(QByteArrayView(command).chopped(1));
        if (!trimmed.isEmpty())
            execute(trimmed);
    }
    emit commandsTaken();
}

SimRadio::Handler SimRadio::handlerFor(const QByteArray &code)
{
    static const QHash<QByteArray, Handler> handlers = {
        {"FA", &SimRadio::vfoACommand},
        {"FB", &SimRadio::vfoBCommand},
        {"FW", &SimRadio::filterCommand},
        {"GT", &SimRadio::agcCommand},
        {"MD", &SimRadio::modeCommand},
        {"NB", &SimRadio::blankerCommand},
        {"PC", &SimRadio::powerCommand},
        {"UP", &SimRadio::stepUpCommand},
        {"DN", &SimRadio::stepDownCommand},
        {"SW", &SimRadio::switchCommand},
        {"RU", &SimRadio::offsetUpCommand},
        {"RD", &SimRadio::offsetDownCommand},
        {"RC", &SimRadio::offsetClearCommand},
        {"RT", &SimRadio::ritCommand},
        {"XT", &SimRadio::xitCommand},
        {"KY", &SimRadio::keyCommand},
        {"TX", &SimRadio::transmitCommand},
        {"RX", &SimRadio::receiveCommand},
        {"AI", &SimRadio::autoInformationCommand},
        {"Q9", &SimRadio::probeCommand},
    };
    return handlers.value(code);
}

// A query, as the relay tells them too, is answered with a report of the
// same code; anything else is a command that sets. The Q9 knows no query
// with a selector ("SM0;"), which other radios of its family take.
void SimRadio::execute(QByteArrayView command)
{
    const QByteArray code = CatCommand::code(command);
    const Snapshot before = snapshot();
    const bool taken = CatCommand::isQuery(command) ? !CatCommand::hasSelector(command) && answerQuery(code)
                                                    : dispatch(code, CatCommand::argument(command));
    if (!taken)
        send(CatCommand::Rejected.toByteArray());
    reportChangesSince(before);
}

bool SimRadio::answerQuery(const QByteArray &code)
{
    if (code == "Q9") {
        ++m_probesSeen;
        if (answersProbe())
            send(ProbeReply.toByteArray());
        return true;
    }
    const QByteArray report = reportFor(code);
    return !report.isEmpty() && answer(report);
}

// The report of one code, or nothing for a code the radio does not know.
QByteArray SimRadio::reportFor(const QByteArray &code)
{
    for (const Setting &setting : settings) {
        if (setting.code == code)
            return settingReport(setting);
    }
    static const QHash<QByteArray, std::function<QByteArray(SimRadio &)>> reports = {
        {"FA", [](SimRadio &radio) { return radio.frequencyReport(0); }},
        {"FB", [](SimRadio &radio) { return radio.frequencyReport(1); }},
        {"FW", &SimRadio::filterReport},
        {"GT", &SimRadio::agcReport},
        {"MD", &SimRadio::modeReport},
        {"NB", &SimRadio::blankerReport},
        {"PC", &SimRadio::powerReport},
        {"IF", [](SimRadio &radio) { return radio.statusRecord(); }},
        {"SM", [](SimRadio &radio) { return "SM" + padded(radio.m_meter.next(), 4) + ';'; }},
        {"AI", [](SimRadio &radio) { return QByteArray(radio.m_state.autoInformation ? "AI2;" : "AI0;"); }},
        {"ID", [](SimRadio &) { return IdentityReply.toByteArray(); }},
    };
    const auto report = reports.constFind(code);
    return report == reports.cend() ? QByteArray() : (*report)(*this);
}

bool SimRadio::dispatch(const QByteArray &code, QByteArrayView argument)
{
    for (const Setting &setting : settings) {
        if (setting.code == code)
            return settingCommand(setting, argument);
    }
    const Handler handler = handlerFor(code);
    return handler && (this->*handler)(argument);
}

void SimRadio::send(const QByteArray &bytes)
{
    if (!m_silent)
        m_pacer.write(bytes);
}

bool SimRadio::answer(const QByteArray &reply)
{
    send(reply);
    return true;
}

SimRadio::Snapshot SimRadio::snapshot() const
{
    Snapshot snapshot;
    snapshot.reports = {frequencyReport(0), frequencyReport(1), modeReport(), filterReport(),
                        agcReport(),        blankerReport(),    powerReport()};
    for (const Setting &setting : settings)
        snapshot.reports.append(settingReport(setting));
    snapshot.status = {m_state.offset, m_state.rit, m_state.xit, m_state.transmitting};
    return snapshot;
}

// In auto-information mode the radio tells of every setting that changed,
// by itself or by command. Offset, RIT/XIT and transmit state have no reply
// of their own, so the status record carries them.
void SimRadio::reportChangesSince(const Snapshot &before)
{
    if (!m_state.autoInformation)
        return;
    const Snapshot after = snapshot();
    for (qsizetype i = 0; i < after.reports.size(); ++i) {
        if (after.reports.at(i) != before.reports.at(i))
            send(after.reports.at(i));
    }
    if (after.status != before.status)
        send(statusRecord());
}

void SimRadio::endTransmission()
{
    const Snapshot before = snapshot();
    m_state.transmitting = false;
    reportChangesSince(before);
}

bool SimRadio::settingCommand(const Setting &setting, QByteArrayView argument)
{
    const auto value = field(argument, setting.width, setting.min, setting.max);
    if (!value)
        return false;
    m_state.*setting.value = *value;
    return true;
}

bool SimRadio::vfoACommand(QByteArrayView argument)
{
    return frequencyCommand(0, argument);
}

bool SimRadio::vfoBCommand(QByteArrayView argument)
{
    return frequencyCommand(1, argument);
}

bool SimRadio::frequencyCommand(int vfo, QByteArrayView argument)
{
    const auto hz = digits(argument, 1, 11);
    return hz && setFrequency(vfo, *hz);
}

bool SimRadio::filterCommand(QByteArrayView argument)
{
    if (argument != "0100")
        return false;
    m_state.crystalFilter = m_state.crystalFilter % FilterCount + 1;
    return true;
}

bool SimRadio::agcCommand(QByteArrayView argument)
{
    const auto speed = field(argument, 3, AgcFast, AgcSlow);
    if (!speed || (*speed != AgcFast && *speed != AgcSlow))
        return false;
    m_state.agcSpeed = *speed;
    return true;
}

bool SimRadio::modeCommand(QByteArrayView argument)
{
    const auto mode = field(argument, 1, 0, 9);
    return mode && setMode(*mode);
}

bool SimRadio::blankerCommand(QByteArrayView argument)
{
    if (argument != "1")
        return false;
    m_state.blanker = (m_state.blanker + 1) % 3;
    return true;
}

bool SimRadio::powerCommand(QByteArrayView argument)
{
    const bool wholeWatts = m_powerForm == PowerForm::Short;
    const auto power = field(argument, 3, 1, wholeWatts ? MaxPowerWatts : MaxPowerTenths);
    if (!power)
        return false;
    m_state.powerTenths = wholeWatts ? *power * 10 : *power;
    return true;
}

bool SimRadio::stepUpCommand(QByteArrayView argument)
{
    return step(argument, +1);
}

bool SimRadio::stepDownCommand(QByteArrayView argument)
{
    return step(argument, -1);
}

bool SimRadio::switchCommand(QByteArrayView argument)
{
    const auto number = field(argument, 2, 0, 99);
    switch (number.value_or(0)) {
    case 1:
        changeBand(+1);
        return true;
    case 3:
        changeBand(-1);
        return true;
    case 4:
        m_state.antenna = m_state.antenna == 1 ? 2 : 1;
        return true;
    case 20:
        toggleTune();
        return true;
    case 22:
        m_state.blankerLevel = 1 - m_state.blankerLevel;
        return true;
    case 27:
        // The spot tone is heard at the radio only; there is nothing to report.
        return true;
    case 29:
        m_state.audioFilter = (m_state.audioFilter + 1) % 3;
        return true;
    case 36:
        m_state.agcOn = !m_state.agcOn;
        return true;
    default:
        return false;
    }
}

bool SimRadio::offsetUpCommand(QByteArrayView argument)
{
    return moveOffset(argument, +OffsetStep);
}

bool SimRadio::offsetDownCommand(QByteArrayView argument)
{
    return moveOffset(argument, -OffsetStep);
}

bool SimRadio::offsetClearCommand(QByteArrayView argument)
{
    return moveOffset(argument, -m_state.offset);
}

bool SimRadio::ritCommand(QByteArrayView argument)
{
    return flagCommand(argument, m_state.rit);
}

bool SimRadio::xitCommand(QByteArrayView argument)
{
    return flagCommand(argument, m_state.xit);
}

bool SimRadio::keyCommand(QByteArrayView argument)
{
    if (!argument.startsWith(' ') || argument.size() > 1 + MaxKeyText)
        return false;
    const QByteArrayView text = argument.sliced(1);
    if (text == "@") {
        stopTransmitting();
        return true;
    }
    const auto duration = keyingTime(text);
    if (duration > 0ms)
        transmitFor(duration);
    return true;
}

// "TX;" keys the transmitter until "RX;"; the family's "TX0;" to "TX2;"
// choose the audio it sends, which is all one to the simulated radio.
bool SimRadio::transmitCommand(QByteArrayView argument)
{
    if (!argument.isEmpty() && (argument.size() != 1 || argument[0] < '0' || argument[0] > '2'))
        return false;
    m_transmitTimer.stop();
    m_state.transmitting = true;
    return true;
}

void SimRadio::holdPttLine(bool held)
{
    const Snapshot before = snapshot();
    if (held)
        transmitCommand({});
    else
        stopTransmitting();
    reportChangesSince(before);
}

bool SimRadio::receiveCommand(QByteArrayView argument)
{
    if (!argument.isEmpty())
        return false;
    stopTransmitting();
    return true;
}

bool SimRadio::autoInformationCommand(QByteArrayView argument)
{
    if (argument != "0" && argument != "2")
        return false;
    m_state.autoInformation = argument == "2";
    return true;
}

// "Q92;" is the panel's opening probe; the radio takes it without a word.
bool SimRadio::probeCommand(QByteArrayView argument)
{
    return argument == "2";
}

QByteArray SimRadio::settingReport(const Setting &setting) const
{
    return setting.code.toByteArray() + padded(m_state.*setting.value, setting.width) + ';';
}

QByteArray SimRadio::frequencyReport(int vfo) const
{
    return (vfo == 0 ? "FA" : "FB") + padded(m_state.vfo[vfo], 11) + ';';
}

QByteArray SimRadio::filterReport() const
{
    return "FW" + padded(FilterBandwidths[m_state.crystalFilter - 1], 4) + digit(m_state.crystalFilter)
        + digit(m_state.audioFilter) + ';';
}

QByteArray SimRadio::agcReport() const
{
    return "GT" + padded(m_state.agcSpeed, 3) + digit(m_state.agcOn) + ';';
}

QByteArray SimRadio::modeReport() const
{
    return "MD" + QByteArray(1, digit(m_state.mode)) + ';';
}

QByteArray SimRadio::blankerReport() const
{
    return "NB" + QByteArray(1, digit(m_state.blanker)) + digit(m_state.blankerLevel) + ';';
}

QByteArray SimRadio::powerReport() const
{
    if (m_powerForm == PowerForm::Short)
        return "PC" + padded(m_state.powerTenths / 10, 3) + ';';
    return "PC" + padded(m_state.powerTenths, 3) + "0;";
}

QByteArray SimRadio::statusRecord() const
{
    return statusRecord(m_state);
}

QByteArray SimRadio::statusRecord(const RadioState &state)
{
    QByteArray record = "IF";
    record += padded(state.vfo[state.receiveVfo], 11);
    record += "     ";
    record += state.offset < 0 ? '-' : '+';
    record += padded(std::abs(state.offset), 4);
    record += digit(state.rit);
    record += digit(state.xit);
    record += " 00";
    record += digit(state.transmitting);
    record += digit(state.mode);
    record += digit(state.receiveVfo);
    record += "00001 ;";
    return record;
}

bool SimRadio::setFrequency(int vfo, qint64 hz)
{
    if (hz < LowestFrequency || hz > HighestFrequency)
        return false;
    m_state.vfo[vfo] = hz;
    return true;
}

bool SimRadio::step(QByteArrayView argument, int direction)
{
    const int size = stepSize(argument);
    if (size == 0)
        return false;
    qint64 &hz = m_state.vfo[m_state.receiveVfo];
    hz = std::clamp(hz + direction * size, LowestFrequency, HighestFrequency);
    return true;
}

bool SimRadio::moveOffset(QByteArrayView argument, int hz)
{
    if (!argument.isEmpty())
        return false;
    m_state.offset = std::clamp(m_state.offset + hz, -MaxOffset, MaxOffset);
    return true;
}

bool SimRadio::flagCommand(QByteArrayView argument, bool &flag)
{
    const auto on = field(argument, 1, 0, 1);
    if (!on)
        return false;
    flag = *on;
    return true;
}

// The radio keeps the last frequency used on each band and returns to it.
void SimRadio::changeBand(int direction)
{
    qint64 &hz = m_state.vfo[m_state.receiveVfo];
    const int current = bandAt(hz);
    if (current >= 0)
        m_bandMemory[current] = hz;
    hz = m_bandMemory[direction > 0 ? bandAbove(hz) : bandBelow(hz)];
}

void SimRadio::toggleTune()
{
    if (m_state.transmitting)
        stopTransmitting();
    else
        transmitFor(m_tuneDuration);
}

void SimRadio::transmitFor(std::chrono::milliseconds duration)
{
    const auto remaining = m_transmitTimer.isActive() ? m_transmitTimer.remainingTimeAsDuration() : 0ms;
    m_state.transmitting = true;
    m_transmitTimer.start(remaining + duration);
}

void SimRadio::stopTransmitting()
{
    m_transmitTimer.stop();
    m_state.transmitting = false;
}

// About ten dot lengths for a character with its spacing, a dot being
// 1200 ms / wpm. Scaled with the tune time so tests can key quickly.
std::chrono::milliseconds SimRadio::keyingTime(QByteArrayView text) const
{
    const auto characters
        = std::count_if(text.begin(), text.end(), [](char c) { return c != '\r' && c != '\n'; });
    const double perCharacter = 10.0 * 1200.0 / m_state.keyerSpeed;
    const double scale = double(m_tuneDuration.count()) / DefaultTuneDuration.count();
    return std::chrono::milliseconds(qRound64(characters * perCharacter * scale));
}

bool SimRadio::answersProbe() const
{
    switch (m_probeAnswer) {
    case ProbeAnswer::Always:
        return true;
    case ProbeAnswer::AfterFirst:
        return m_probesSeen > 1;
    case ProbeAnswer::Never:
        break;
    }
    return false;
}
