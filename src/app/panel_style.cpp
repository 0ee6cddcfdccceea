#include "panel_style.h"

#include "app/panel_colours.h"

#include <QPainter>
#include <QStyleOption>

#include <algorithm>

namespace {

// Fusion shows the focus frame once the keyboard has moved the focus, and
// so does the panel.
bool hasKeyboardFocus(const QStyleOption *option)
{
    return option->state.testFlag(QStyle::State_HasFocus)
        && option->state.testFlag(QStyle::State_KeyboardFocusChange);
}

// Dashes of black and white: one of the two stands out on any back colour.
void drawFocusFrame(QPainter *painter, const QRect &rect)
{
    const QRectF frame = QRectF(rect).adjusted(1, 1, -1, -1);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setBrush(Qt::NoBrush);
    painter->setPen(QPen(Qt::white, 2));
    painter->drawRect(frame);
    QPen dashes(Qt::black, 2, Qt::CustomDashLine);
    dashes.setDashPattern({2, 2});
    painter->setPen(dashes);
    painter->drawRect(frame);
    painter->restore();
}

// The face in exactly the button's colour, inside Fusion's outline; a
// little darker only while the button is held down.
void drawFlatButton(const QStyleOption *option, QPainter *painter)
{
    const QColor face = option->palette.color(QPalette::Button);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(option->palette.color(QPalette::Window).darker(140));
    painter->setBrush(option->state.testFlag(QStyle::State_Sunken) ? face.darker(110) : face);
    painter->drawRoundedRect(QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
    painter->restore();
}

// The share of the bar up to the value, in exactly the gauge's colour.
void drawFlatGauge(const QStyleOptionProgressBar *bar, QPainter *painter)
{
    const qint64 range = std::max(1, bar->maximum - bar->minimum);
    QRect filled = bar->rect;
    filled.setWidth(static_cast<int>(filled.width() * qint64(bar->progress - bar->minimum) / range));
    painter->fillRect(filled, bar->palette.color(QPalette::Highlight));
}

} // namespace

PanelStyle::PanelStyle()
    : QProxyStyle(QStringLiteral("Fusion"))
{ }

void PanelStyle::drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                               const QWidget *widget) const
{
    if (element == PE_PanelButtonCommand && widget && showsStateByColour(widget)) {
        drawFlatButton(option, painter);
        return;
    }
    if (element == PE_FrameFocusRect) {
        if (hasKeyboardFocus(option))
            drawFocusFrame(painter, option->rect);
        return;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    // Text boxes draw no focus rectangle of their own: their frame carries it.
    if ((element == PE_PanelLineEdit || element == PE_Frame) && hasKeyboardFocus(option))
        drawFocusFrame(painter, option->rect);
}

void PanelStyle::drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                             const QWidget *widget) const
{
    const auto *bar = qstyleoption_cast<const QStyleOptionProgressBar *>(option);
    if (element == CE_ProgressBarContents && bar && widget && showsStateByColour(widget)) {
        drawFlatGauge(bar, painter);
        return;
    }
    QProxyStyle::drawControl(element, option, painter, widget);
    // Fusion shows a button's focus only in the tint of its outline.
    if (element == CE_PushButton && hasKeyboardFocus(option))
        drawFocusFrame(painter, subElementRect(SE_PushButtonFocusRect, option, widget));
}

void PanelStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex *option,
                                    QPainter *painter, const QWidget *widget) const
{
    QProxyStyle::drawComplexControl(control, option, painter, widget);
    if ((control == CC_Slider || control == CC_ScrollBar) && hasKeyboardFocus(option))
        drawFocusFrame(painter, option->rect);
}
