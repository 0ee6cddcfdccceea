#include "panel_colours.h"

#include <QAbstractButton>
#include <QApplication>
#include <QWidget>

namespace {

const char StateColourProperty[] = "showsStateByColour";

// Buttons paint their face from QPalette::Button; labels and frames from
// QPalette::Window, which only shows when the widget fills its background.
QPalette::ColorRole backRole(const QWidget *control)
{
    return qobject_cast<const QAbstractButton *>(control) ? QPalette::Button : QPalette::Window;
}

// A palette change reaches every child and repaints; replies restate the
// same state many times a second, so only a real change is applied.
void setPaletteColour(QWidget *control, QPalette::ColorRole role, const QColor &colour)
{
    if (control->palette().color(role) == colour)
        return;
    QPalette palette = control->palette();
    palette.setColor(role, colour);
    control->setPalette(palette);
}

} // namespace

QColor PanelColour::buttonFace()
{
    return QApplication::palette().color(QPalette::Button);
}

void showStateByColour(QWidget *control)
{
    control->setProperty(StateColourProperty, true);
}

bool showsStateByColour(const QWidget *control)
{
    return control->property(StateColourProperty).toBool();
}

void setBackColour(QWidget *control, const QColor &colour)
{
    const QPalette::ColorRole role = backRole(control);
    if (role == QPalette::Window)
        control->setAutoFillBackground(true);
    setPaletteColour(control, role, colour);
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
    setPaletteColour(control, QPalette::Text, colour);
}

QColor textColour(const QWidget *control)
{
    return control->palette().color(QPalette::Text);
}

void setGaugeColour(QWidget *gauge, const QColor &colour)
{
    setPaletteColour(gauge, QPalette::Highlight, colour);
}

QColor gaugeColour(const QWidget *gauge)
{
    return gauge->palette().color(QPalette::Highlight);
}
