#include "app/numbers.h"
#include "app/panel_colours.h"
#include "app/rmt_q9.h"
#include "tuning/frequency_command.h"
#include "ui_rmt_q9.h"

namespace {

// The width of a frequency as the panel writes it: 07040.00.
constexpr int DisplayedWidth = 8;

} // namespace

// The boxes' focus and wheel events come through the window's event filter
// (rmt_q9.cpp).
void Rmt_Q9::wireVfoEntry()
{
    ui->vfoa_edbox->installEventFilter(this);
    ui->vfob_edbox->installEventFilter(this);
    connect(ui->a2b, &QPushButton::clicked, this, &Rmt_Q9::a2b_Click);
    connect(ui->b2a, &QPushButton::clicked, this, &Rmt_Q9::b2a_Click);
    connect(ui->rx_vfoa, &QPushButton::clicked, this, &Rmt_Q9::rx_vfoa_Click);
    connect(ui->rx_vfob, &QPushButton::clicked, this, &Rmt_Q9::rx_vfob_Click);
    connect(ui->tx_vfoa, &QPushButton::clicked, this, &Rmt_Q9::tx_vfoa_Click);
    connect(ui->tx_vfob, &QPushButton::clicked, this, &Rmt_Q9::tx_vfob_Click);
}

// Selects the displayed frequency so that typing replaces it. Queued, so that
// it comes after the mouse press that gave the focus has placed the caret.
void Rmt_Q9::vfo_edbox_GotFocus(QObject *box)
{
    auto *edit = static_cast<QLineEdit *>(box);
    QMetaObject::invokeMethod(
        edit, [edit] { edit->setSelection(0, DisplayedWidth); }, Qt::QueuedConnection);
}

void Rmt_Q9::vfoa_edbox_LostFocus()
{
    sendFrequency(QStringLiteral("FA"), ui->vfoa_edbox->text());
    clr_slide_Click();
}

void Rmt_Q9::vfob_edbox_LostFocus()
{
    sendFrequency(QStringLiteral("FB"), ui->vfob_edbox->text());
    clr_slide_Click();
}

void Rmt_Q9::a2b_Click()
{
    sendFrequency(QStringLiteral("FB"), ui->vfoa_edbox->text());
    QueryVfoFrequencies();
    clr_slide_Click();
}

void Rmt_Q9::b2a_Click()
{
    sendFrequency(QStringLiteral("FA"), ui->vfob_edbox->text());
    QueryVfoFrequencies();
    clr_slide_Click();
}

void Rmt_Q9::QueryVfoFrequencies()
{
    SendCommand(QStringLiteral("FA;FB;"));
}

void Rmt_Q9::rx_vfoa_Click()
{
    selectReceiveVfo(0);
}

void Rmt_Q9::rx_vfob_Click()
{
    selectReceiveVfo(1);
}

void Rmt_Q9::tx_vfoa_Click()
{
    selectTransmitVfo(0);
}

void Rmt_Q9::tx_vfob_Click()
{
    selectTransmitVfo(1);
}

void Rmt_Q9::sendFrequency(const QString &code, const QString &boxText)
{
    SendCommand(setFrequencyCommand(code, leadingNumber(boxText)));
}

// The buttons show the choice at once; the replies to the query may correct
// them. The fine-tune reference starts again from the new VFO's box.
void Rmt_Q9::selectReceiveVfo(qint16 vfo)
{
    SendCommand(vfo == 0 ? QStringLiteral("FR0;FW;IF;FB;") : QStringLiteral("FR1;FW;IF;FA;"));
    for (QWidget *button : {ui->rx_vfoa, ui->tx_vfoa})
        setOnColour(button, vfo == 0);
    for (QWidget *button : {ui->rx_vfob, ui->tx_vfob})
        setOnColour(button, vfo != 0);
    g.RxVfo = vfo;
    clr_slide_Click();
}

void Rmt_Q9::selectTransmitVfo(qint16 vfo)
{
    SendCommand(vfo == 0 ? QStringLiteral("FT0;") : QStringLiteral("FT1;"));
    setOnColour(ui->tx_vfoa, vfo == 0);
    setOnColour(ui->tx_vfob, vfo != 0);
}
