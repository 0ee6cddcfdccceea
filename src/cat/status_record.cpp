#include "app/panel_colours.h"
#include "app/rmt_q9.h"
#include "cat/reply_fields.h"
#include "ui_rmt_q9.h"

// The status record, applied in this order: mode, operating frequency and
// receive VFO, transmit state, then the RIT/XIT switches and offset. The
// mode and the frequency are located from the end of the record, the rest
// from its start.
void Rmt_Q9::decodeStatusRecord(const ReplyFields &record)
{
    selectModeButton(record.at(record.fromEnd(8)));

    const qint16 vfo = record.at(31) == u'0' ? 0 : 1;
    QLineEdit *box = vfo == 0 ? ui->vfoa_edbox : ui->vfob_edbox;
    box->setText(frequencyFromEnd(record, 32, 26));
    showReceiveVfo(vfo);

    g.Transmitting = record.at(29) != u'0';
    if (!g.Transmitting)
        setOnColour(ui->Tune, false);
    setGaugeColour(ui->Smeter, g.Transmitting ? PanelColour::MeterTransmit : PanelColour::MeterReceive);

    g.RitOn = record.number(24, 24);
    g.XitOn = record.number(25, 25);
    ShowRitOffset(record.number(19, 22));
    ShowRitXitState();
}
