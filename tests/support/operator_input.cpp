#include "operator_input.h"

#include <QScrollBar>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>

namespace {

const QByteArray Marker = QByteArrayLiteral("ZZ;");

QStyleOptionSlider sliderOption(const QAbstractSlider *slider)
{
    QStyleOptionSlider option;
    option.initFrom(slider);
    option.orientation = slider->orientation();
    if (slider->orientation() == Qt::Horizontal)
        option.state |= QStyle::State_Horizontal;
    option.minimum = slider->minimum();
    option.maximum = slider->maximum();
    option.sliderPosition = slider->sliderPosition();
    option.sliderValue = slider->value();
    option.singleStep = slider->singleStep();
    option.pageStep = slider->pageStep();
    option.upsideDown = slider->invertedAppearance();
    if (const auto *ticked = qobject_cast<const QSlider *>(slider)) {
        option.tickPosition = ticked->tickPosition();
        option.tickInterval = ticked->tickInterval();
    }
    return option;
}

QRect scrollBarPart(const QScrollBar *bar, QStyle::SubControl part)
{
    const QStyleOptionSlider option = sliderOption(bar);
    return bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, part, bar);
}

} // namespace

LinkedPanel::LinkedPanel()
{
    showActive(fixture.start());
    fixture.connectSerial(radio);
}

QByteArray LinkedPanel::sentDuring(const std::function<void()> &action)
{
    radio.received.clear();
    action();
    panel().SendCommand(QString::fromLatin1(Marker));
    if (!QTest::qWaitFor([this] { return radio.received.endsWith(Marker); }, 10000))
        return QByteArrayLiteral("(marker never arrived) ") + radio.received;
    return radio.received.chopped(Marker.size());
}

void showActive(QWidget &window)
{
    window.show();
    window.activateWindow();
    if (!QTest::qWaitForWindowActive(&window))
        qWarning("the panel did not become the active window");
}

QRect thumbRect(const QAbstractSlider *slider)
{
    if (const auto *bar = qobject_cast<const QScrollBar *>(slider))
        return scrollBarPart(bar, QStyle::SC_ScrollBarSlider);
    const QStyleOptionSlider option = sliderOption(slider);
    return slider->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider);
}

void dragThumb(QAbstractSlider *slider, int position)
{
    QPoint at = thumbRect(slider).center();
    QTest::mousePress(slider, Qt::LeftButton, {}, at);
    const int step = position >= slider->sliderPosition() ? 1 : -1;
    while (slider->sliderPosition() != position && slider->rect().contains(at)) {
        at.rx() += step;
        QTest::mouseMove(slider, at);
    }
    QTest::mouseRelease(slider, Qt::LeftButton, {}, at);
}

void clickTrack(QAbstractSlider *slider, bool after)
{
    const QRect thumb = thumbRect(slider);
    const QPoint beside(after ? thumb.right() + 6 : thumb.left() - 6, thumb.center().y());
    QTest::mouseClick(slider, Qt::LeftButton, {}, beside);
}

void clickArrow(QScrollBar *bar, bool after)
{
    const QRect arrow = scrollBarPart(bar, after ? QStyle::SC_ScrollBarAddLine : QStyle::SC_ScrollBarSubLine);
    QTest::mouseClick(bar, Qt::LeftButton, {}, arrow.center());
}
