#include "panel_colours.h"

#include <QAbstractButton>
#include <QApplication>
#include <QWidget>

namespace {

// Buttons paint their face from QPalette::Button; labels and frames from
// QPalette::Window, which only shows when the widget fills its background.
QPalette::ColorRole backRole(const QWidget *control)
{
    return qobject_cast<const QAbstractButton *>(control) ? QPalette::Button : QPalette::Window;
}

} // namespace

QColor PanelColour::buttonFace()
{
    return QApplication::palette().color(QPalette::Button);
}

void setBackColour(QWidget *control, const QColor &colour)
{
    QPalette palette = control->palette();
    palette.setColor(backRole(control), colour);
    control->setPalette(palette);
    if (backRole(control) == QPalette::Window)
        control->setAutoFillBackground(true);
}

QColor backColour(const QWidget *control)
{
    return control->palette().color(backRole(control));
}

void setOnColour(QWidget *control, bool on)
{
    setBackColour(control, on ? PanelColour::On : PanelColour::buttonFace());
}

void setTextColour(QWidget *control, const QColor &colour)
{
    QPalette palette = control->palette();
    palette.setColor(QPalette::Text, colour);
    control->setPalette(palette);
}

QColor textColour(const QWidget *control)
{
    return control->palette().color(QPalette::Text);
}

void setGaugeColour(QWidget *gauge, const QColor &colour)
{
    QPalette palette = gauge->palette();
    palette.setColor(QPalette::Highlight, colour);
    gauge->setPalette(palette);
}

QColor gaugeColour(const QWidget *gauge)
{
    return gauge->palette().color(QPalette::Highlight);
}
