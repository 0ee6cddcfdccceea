#pragma once

#include "panel_fixture.h"
#include "pty_pair.h"

#include <QByteArray>
#include <QRect>

#include <functional>

class QAbstractSlider;
class QScrollBar;
class QWidget;

// A started panel, shown and active as the operator sees it, whose Comm1 is
// up on a pseudo-terminal radio.
struct LinkedPanel
{
    LinkedPanel();

    // What the panel sends on the link while `action` runs. A marker sent
    // after the action arrives after all of it, so what comes before the
    // marker is exactly what the action sent: nothing missed, nothing still
    // on its way.
    QByteArray sentDuring(const std::function<void()> &action);

    Rmt_Q9 &panel() { return fixture.panel(); }
    template<typename T>
    T *control(const char *name) const
    {
        return fixture.control<T>(name);
    }

    PtyPair radio;
    PanelFixture fixture;
};

// Shows the window and waits until it is the active one, so that focus and
// mouse behave as on a desktop.
void showActive(QWidget &window);

// The operator's mouse on a slider or scroll bar, through real mouse events.
QRect thumbRect(const QAbstractSlider *slider);
// Presses the thumb and drags it a pixel at a time until the control reports
// `position`, then lets go there.
void dragThumb(QAbstractSlider *slider, int position);
// Clicks the track beside the thumb, after it (towards the maximum) or
// before it.
void clickTrack(QAbstractSlider *slider, bool after);
// Clicks a scroll bar's arrow at its maximum end or its minimum end.
void clickArrow(QScrollBar *bar, bool after);
