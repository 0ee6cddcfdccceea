#pragma once

#include <QProxyStyle>

// Fusion, with two things the panel needs that Fusion does not do: controls
// whose colour shows a state (see showStateByColour) are painted as a flat
// fill of exactly their colour, where Fusion's gradient would wash green out
// to a pale tint; and the keyboard focus is a black and white frame, which
// stands out on every colour the panel uses, green included.
class PanelStyle : public QProxyStyle
{
    Q_OBJECT

public:
    PanelStyle();

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget = nullptr) const override;
    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option, QPainter *painter,
                            const QWidget *widget = nullptr) const override;
};
