#include "app/numbers.h"
#include "app/panel_colours.h"
#include "app/rmt_q9.h"
#include "cat/mode_digits.h"
#include "cat/reply_fields.h"
#include "ui_rmt_q9.h"

#include <QRadioButton>
#include <QSignalBlocker>

#include <algorithm>
#include <cmath>

namespace {

// A reply only moves a slider; it must not look like the operator moving it.
void setSliderQuietly(QAbstractSlider *slider, double value)
{
    const QSignalBlocker quiet(slider);
    slider->setValue(toBoundedInt(value, slider->minimum(), slider->maximum()));
}

} // namespace

void Rmt_Q9::HandleReply(const QString &reply)
{
    using Branch = void (Rmt_Q9::*)(const ReplyFields &);
    static const std::pair<QStringView, Branch> branches[] = {
        {u"!!", &Rmt_Q9::replyServerGreeting}, {u"AN", &Rmt_Q9::replyAntenna},
        {u"FA", &Rmt_Q9::replyVfoA},           {u"FB", &Rmt_Q9::replyVfoB},
        {u"FR", &Rmt_Q9::replyReceiveVfo},     {u"FT", &Rmt_Q9::replyTransmitVfo},
        {u"FW", &Rmt_Q9::replyFilter},         {u"GT", &Rmt_Q9::replyAgc},
        {u"Q9", &Rmt_Q9::replyRadioPresent},   {u"KS", &Rmt_Q9::replyKeyerSpeed},
        {u"MD", &Rmt_Q9::replyMode},           {u"NB", &Rmt_Q9::replyNoiseBlanker},
        {u"SM", &Rmt_Q9::replySMeter},         {u"SQ", &Rmt_Q9::replySquelch},
        {u"PA", &Rmt_Q9::replyPreamp},         {u"PC", &Rmt_Q9::replyPower},
        {u"RA", &Rmt_Q9::replyAttenuator},     {u"IF", &Rmt_Q9::decodeStatusRecord},
    };
    const ReplyFields fields(reply);
    const QString code = fields.code();
    for (const auto &[known, branch] : branches) {
        if (code == known) {
            (this->*branch)(fields);
            break;
        }
    }
    // Any reply at all ends a probe's wait.
    g.AwaitingReply = false;
}

void Rmt_Q9::replyServerGreeting(const ReplyFields &reply)
{
    g.ServerConnected = true;
    // Also a relay's greeting again, when its audio comes or goes, or its
    // word on the panel's transmission.
    const QString text = reply.text(1, reply.length());
    if (!m_pushToTalk.takeNotice(text)) {
        m_pushToTalk.noteGreeting(text);
        noteAudioOffer(text);
        followAudioOffer();
    }
    if (g.DebugOn)
        replaceDebugText(QStringLiteral("R9Ezuziz Connected"));
}

void Rmt_Q9::replyAntenna(const ReplyFields &reply)
{
    const QChar antenna = reply.at(3);
    if (antenna.isDigit())
        ui->Ant1_2->setText(antenna == u'1' ? QStringLiteral("ANT 1") : QStringLiteral("ANT 2"));
}

// Both VFO replies carry the frequency in hertz; the box shows it to 10 Hz,
// so the digit in front of the ";" is left out.
void Rmt_Q9::replyVfoA(const ReplyFields &reply)
{
    ui->vfoa_edbox->setText(frequencyFromEnd(reply, 8, 2));
}

void Rmt_Q9::replyVfoB(const ReplyFields &reply)
{
    ui->vfob_edbox->setText(frequencyFromEnd(reply, 8, 2));
}

void Rmt_Q9::replyReceiveVfo(const ReplyFields &reply)
{
    const QChar vfo = reply.at(3);
    if (vfo == u'0' || vfo == u'1')
        showReceiveVfo(vfo == u'0' ? 0 : 1);
}

void Rmt_Q9::showReceiveVfo(qint16 vfo)
{
    g.RxVfo = vfo;
    setOnColour(ui->rx_vfoa, vfo == 0);
    setOnColour(ui->rx_vfob, vfo != 0);
}

void Rmt_Q9::replyTransmitVfo(const ReplyFields &reply)
{
    const QChar vfo = reply.at(3);
    if (vfo != u'0' && vfo != u'1')
        return;
    setOnColour(ui->tx_vfoa, vfo == u'0');
    setOnColour(ui->tx_vfob, vfo == u'1');
}

void Rmt_Q9::replyFilter(const ReplyFields &reply)
{
    const QChar filter = reply.at(7);
    const QString name = filter >= u'1' && filter <= u'4' ? QStringLiteral("FL") + filter : QString();
    ui->fil_bw->setText(name + u'/' + reply.text(3, 6));

    const QChar audio = reply.at(8);
    if (audio == u'0') {
        ui->Afil->setText(QStringLiteral("AFIL"));
        setOnColour(ui->Afil, false);
    } else if (audio == u'1' || audio == u'2') {
        ui->Afil->setText(QStringLiteral("AF") + audio);
        setOnColour(ui->Afil, true);
    }
}

void Rmt_Q9::replyAgc(const ReplyFields &reply)
{
    QRadioButton *speed = reply.number(3, 5) == 2 ? ui->AGC_Fast : ui->AGC_Slow;
    speed->setChecked(true);
    setOnColour(ui->AGC_on, reply.at(6) != u'0');
}

void Rmt_Q9::replyRadioPresent(const ReplyFields &)
{
    g.RadioPresent = true;
    ui->Q9_present_ind->show();
}

void Rmt_Q9::replyKeyerSpeed(const ReplyFields &reply)
{
    setSliderQuietly(ui->CWSpeedSlider, reply.number(3, 5));
    showReading(ui->SPD, reply.text(4, 5));
}

void Rmt_Q9::replyMode(const ReplyFields &reply)
{
    selectModeButton(reply.at(3));
}

// Selecting an option from here sends nothing: only the operator's click
// does.
void Rmt_Q9::selectModeButton(QChar digit)
{
    const QString name = modeButtonFor(digit);
    if (name.isEmpty())
        return;
    if (auto *button = ui->MD_Frame->findChild<QRadioButton *>(name))
        button->setChecked(true);
}

void Rmt_Q9::replyNoiseBlanker(const ReplyFields &reply)
{
    if (reply.length() <= 4)
        return;
    const QChar blanker = reply.at(3);
    if (blanker == u'0') {
        ui->NB->setText(QStringLiteral("NB"));
        setOnColour(ui->NB, false);
    } else if (blanker == u'1' || blanker == u'2') {
        ui->NB->setText(QStringLiteral("NB") + blanker);
        setOnColour(ui->NB, true);
    }
    const QChar level = reply.at(4);
    if (level.isDigit())
        ui->NB_level->setText(level == u'0' ? QStringLiteral("High") : QStringLiteral("Low"));
}

void Rmt_Q9::replySMeter(const ReplyFields &reply)
{
    const double reading = std::min(reply.number(reply.fromEnd(4), reply.fromEnd(1)), 15.0);
    ui->Smeter->setValue(std::clamp(static_cast<int>(std::floor(2 * reading)), 0, 30));
}

void Rmt_Q9::replySquelch(const ReplyFields &reply)
{
    const double level = reply.number(3, 5) / 25;
    setSliderQuietly(ui->SquelchSlider, level);
    showReading(ui->SQ, formatZeroPadded(level, 2, 0));
}

void Rmt_Q9::replyPreamp(const ReplyFields &reply)
{
    g.PreampOn = reply.at(3) != u'0';
    setOnColour(ui->AIP_cmd, g.PreampOn);
}

// Two forms: whole watts ("PC010;", a low-power radio) and tenths of a watt
// with a fourth digit ("PC0501;").
void Rmt_Q9::replyPower(const ReplyFields &reply)
{
    const bool wholeWatts = reply.at(6) == u';';
    ui->NB_level->setVisible(!wholeWatts);
    {
        // A lower maximum may pull the value down: still not the operator.
        const QSignalBlocker quiet(ui->PowerSlider);
        ui->PowerSlider->setMaximum(wholeWatts ? 15 : 150);
    }
    if (wholeWatts) {
        setSliderQuietly(ui->PowerSlider, reply.number(4, 5));
        showReading(ui->PWR, reply.text(4, 5) + u'W');
    } else {
        setSliderQuietly(ui->PowerSlider, reply.number(3, 5));
        showReading(ui->PWR, reply.text(3, 4) + u'.' + reply.text(5, 5) + u'W');
    }
}

void Rmt_Q9::replyAttenuator(const ReplyFields &reply)
{
    g.AttenuatorOn = reply.text(3, 4) != u"00";
    setOnColour(ui->att_cmd, g.AttenuatorOn);
}
