#include "panel_colours.h"

#include <QAbstractButton>
#include <QAccessibleWidget>
#include <QApplication>
#include <QLabel>
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
bool setPaletteColour(QWidget *control, QPalette::ColorRole role, const QColor &colour)
{
    if (control->palette().color(role) == colour)
        return false;
    QPalette palette = control->palette();
    palette.setColor(role, colour);
    control->setPalette(palette);
    return true;
}

bool isOn(const QWidget *control)
{
    return backColour(control) == PanelColour::On;
}

// A button whose colour shows its state is, to a screen reader, what Qt
// makes of a checkable button: checked while it is green. Its name and its
// description (the tooltip) stay as for any other button.
class StateButtonAccessible : public QAccessibleWidget
{
public:
    explicit StateButtonAccessible(QAbstractButton *button)
        : QAccessibleWidget(button, QAccessible::CheckBox)
    { }

    QString text(QAccessible::Text kind) const override
    {
        QString text = QAccessibleWidget::text(kind);
        if (kind == QAccessible::Name && text.isEmpty())
            text = button()->text().remove(u'&');
        return text;
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.checkable = true;
        state.checked = isOn(widget());
        state.pressed = button()->isDown();
        return state;
    }

    QStringList actionNames() const override
    {
        return QStringList(pressAction()) + QAccessibleWidget::actionNames();
    }

    void doAction(const QString &action) override
    {
        if (action == pressAction())
            button()->animateClick();
        else
            QAccessibleWidget::doAction(action);
    }

private:
    QAbstractButton *button() const { return static_cast<QAbstractButton *>(widget()); }
};

QAccessibleInterface *stateButtonInterface(const QString &, QObject *object)
{
    auto *button = qobject_cast<QAbstractButton *>(object);
    return button && showsStateByColour(button) ? new StateButtonAccessible(button) : nullptr;
}

// Told whenever the colour changes, so that a screen reader announces the
// new state. The S-meter is not on or off: what it tells is its value.
void announceState(QWidget *control)
{
    if (qobject_cast<QLabel *>(control)) {
        control->setAccessibleDescription(isOn(control) ? QStringLiteral("on") : QStringLiteral("off"));
    } else if (qobject_cast<QAbstractButton *>(control)) {
        QAccessible::State changed;
        changed.checked = true;
        QAccessibleStateChangeEvent event(control, changed);
        QAccessible::updateAccessibility(&event);
    }
}

} // namespace

QColor PanelColour::buttonFace()
{
    return QApplication::palette().color(QPalette::Button);
}

void showStateByColour(QWidget *control)
{
    QAccessible::installFactory(stateButtonInterface);
    control->setProperty(StateColourProperty, true);
    // Qt made the control's interface as it built the control; without it
    // the next query makes the one that tells the state.
    if (QAccessibleInterface *made = QAccessible::queryAccessibleInterface(control))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
    announceState(control);
}

bool showsStateByColour(const QWidget *control)
{
    return control->property(StateColourProperty).toBool();
}

void showReading(QLabel *readout, const QString &reading)
{
    readout->setText(reading);
    readout->setAccessibleDescription(reading);
}

void setBackColour(QWidget *control, const QColor &colour)
{
    const QPalette::ColorRole role = backRole(control);
    if (role == QPalette::Window)
        control->setAutoFillBackground(true);
    if (setPaletteColour(control, role, colour) && showsStateByColour(control))
        announceState(control);
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
