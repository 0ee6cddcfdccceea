#include "station.h"

#include "app/panel_colours.h"

#include <QAbstractSlider>
#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFocusEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

namespace {

// The radio takes this probe without a word, so the marker leaves no reply
// behind to disturb what the test looks at next.
const QByteArray Marker = QByteArrayLiteral("Q92;");

QString colourName(const QColor &colour)
{
    static const QHash<QRgb, QString> names = {
        {PanelColour::On.rgb(), QStringLiteral("green")},
        {PanelColour::IndicatorOff.rgb(), QStringLiteral("blue")},
        {PanelColour::MeterReceive.rgb(), QStringLiteral("yellow")},
        {PanelColour::MeterTransmit.rgb(), QStringLiteral("dark red")},
        {PanelColour::OffsetActive.rgb(), QStringLiteral("cyan")},
        {PanelColour::OffsetIdle.rgb(), QStringLiteral("black")},
    };
    return colour == PanelColour::buttonFace() ? QStringLiteral("face") : names.value(colour.rgb());
}

QString joined(const QString &text, const QString &colour)
{
    return colour.isEmpty() ? text : text + u' ' + colour;
}

// A slider moved as the mouse moves it: a drag reports each new position
// while the thumb is down and lets go there; a click on an arrow or in the
// track steps it.
void drag(QAbstractSlider *slider, int position)
{
    slider->setSliderDown(true);
    while (slider->sliderPosition() != position)
        slider->setSliderPosition(slider->sliderPosition() + (position > slider->sliderPosition() ? 1 : -1));
    slider->setSliderDown(false);
}

// Where the operator clicks: options take clicks on their mark and caption,
// text boxes in their text area.
void click(QWidget *control)
{
    if (auto *box = qobject_cast<QPlainTextEdit *>(control))
        QTest::mouseClick(box->viewport(), Qt::LeftButton);
    else
        QTest::mouseClick(control, Qt::LeftButton, {}, QPoint(8, control->height() / 2));
}

// One event per notch, as a mouse wheel sends them; up is away from the
// operator.
void turnWheel(QWidget *control, int notches)
{
    const QPoint at = control->rect().center();
    const QPoint notch(0, notches > 0 ? 120 : -120);
    for (int i = 0; i < qAbs(notches); ++i) {
        QWheelEvent wheel(at, control->mapToGlobal(at), {}, notch, {}, {}, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(control, &wheel);
    }
}

// Another window comes to the front and goes again.
void visitAnotherWindow(QWidget &panel)
{
    QWidget other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    other.hide();
    panel.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&panel));
}

} // namespace

QString shown(const QObject *control)
{
    if (auto *action = qobject_cast<const QAction *>(control))
        return action->isChecked() ? QStringLiteral("checked") : QStringLiteral("unchecked");
    if (auto *timer = qobject_cast<const QTimer *>(control))
        return timer->isActive() ? QStringLiteral("every %1 ms").arg(timer->interval())
                                 : QStringLiteral("stopped");
    auto *widget = qobject_cast<const QWidget *>(control);
    if (!widget)
        return QStringLiteral("missing");
    if (widget->isHidden())
        return QStringLiteral("hidden");
    if (auto *slider = qobject_cast<const QAbstractSlider *>(widget))
        return QStringLiteral("%1/%2").arg(slider->value()).arg(slider->maximum());
    if (auto *gauge = qobject_cast<const QProgressBar *>(widget))
        return joined(QString::number(gauge->value()), colourName(gaugeColour(widget)));
    if (auto *option = qobject_cast<const QRadioButton *>(widget))
        return option->isChecked() ? QStringLiteral("checked") : QStringLiteral("unchecked");
    if (auto *button = qobject_cast<const QPushButton *>(widget))
        return joined(button->text(), colourName(backColour(widget)));
    if (auto *box = qobject_cast<const QLineEdit *>(widget)) {
        const bool ownColour = widget->testAttribute(Qt::WA_SetPalette);
        return joined(box->text(), ownColour ? colourName(textColour(widget)) : QString());
    }
    if (auto *box = qobject_cast<const QPlainTextEdit *>(widget))
        return box->toPlainText();
    if (auto *label = qobject_cast<const QLabel *>(widget))
        return label->text().isEmpty() ? colourName(backColour(widget)) : label->text();
    return {};
}

// Tests of other programs, or of other builds on the same machine, may be
// using port 2300 on an address of their own at the same time.
QString loopbackAddress()
{
    for (;;) {
        QRandomGenerator *random = QRandomGenerator::global();
        const QString address
            = QStringLiteral("127.%1.%2.1").arg(random->bounded(10, 250)).arg(random->bounded(1, 250));
        QTcpServer probe;
        if (probe.listen(QHostAddress(address), 2300))
            return address;
    }
}

Station::Station()
    : m_previousDir(QDir::currentPath())
{
    QDir::setCurrent(m_dir.path());
}

Station::~Station()
{
    m_panel.reset();
    QDir::setCurrent(m_previousDir);
}

void Station::writeSettings(const QByteArray &record)
{
    QFile file(path(QStringLiteral("d9iduzid.ini")));
    if (file.open(QIODevice::WriteOnly))
        file.write(record);
}

QByteArray Station::settings() const
{
    QFile file(path(QStringLiteral("d9iduzid.ini")));
    if (file.exists() && !QFileInfo(file).isFile())
        return QByteArrayLiteral("<not a file>");
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void Station::plugSerial(int portNumber)
{
    if (!m_serial) {
        m_serial = std::make_unique<PseudoTerminal>();
        m_serial->open();
        connect(m_serial.get(), &PseudoTerminal::readyRead, this, [this] { hear(m_serial->readAll()); });
        connect(&radio, &SimRadio::output, m_serial.get(), &PseudoTerminal::write);
    }
    const QString link = path(QStringLiteral("com%1").arg(portNumber));
    QFile::remove(link);
    QFile::link(m_serial->slavePath(), link);
}

// The simulated radio behind the relay, hearing what reaches it as the
// serial line's end does.
class Station::RelayedLine : public SimulatedLine
{
public:
    explicit RelayedLine(Station &station)
        : SimulatedLine(station.radio)
        , m_station(station)
    { }
    void send(const QByteArray &commands) override { m_station.hear(commands); }

private:
    Station &m_station;
};

void Station::startRelay(const QString &address, quint16 port)
{
    m_relayLine = std::make_unique<RelayedLine>(*this);
    m_relay = std::make_unique<RelayServer>(*m_relayLine);
    if (!m_relay->listen(QStringLiteral("%1:%2").arg(address).arg(port)))
        qWarning("relay: %s", qPrintable(m_relay->errorString()));
    connect(m_relay.get(), &RelayServer::message, this,
            [this](const QString &line) { relayLog.append(line); });
    m_relay->takeRadio();
    heard.clear();
}

void Station::connectSerial()
{
    if (!m_serial)
        plugSerial();
    perform(QStringLiteral("trigger Setcomm1"));
    awaitRadioState("AI2;");
}

void Station::connectServer(const QString &address)
{
    if (!m_relay)
        startRelay(address);
    perform(QStringLiteral("answer %1|trigger Set_Host_Addr").arg(address));
    // The relay keeps the panel's "AI2;" as the panel's own level, and
    // checks the radio's own instead.
    awaitRadioState("AI;");
}

// The status record is the last answer to the start-up query; once its
// offset is shown, every answer before it has been too.
void Station::awaitRadioState(const QByteArray &lastHeard)
{
    if (!QTest::qWaitFor([this, &lastHeard] {
            return heard.endsWith(lastHeard) && shown(find(QStringLiteral("rit_box"))).startsWith(u' ');
        }))
        qWarning("the radio's state never reached the panel; the panel sent: %s", heard.constData());
    heard.clear();
}

void Station::hear(const QByteArray &chunk)
{
    radio.receive(chunk);
    heard += chunk;
    emit heardChunk(chunk);
}

void Station::perform(const QString &steps)
{
    if (!m_panel)
        start();
    if (!m_panel->isVisible()) {
        m_panel->show();
        m_panel->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_panel.get()));
    }
    for (const QString &step : steps.split(u'|', Qt::SkipEmptyParts))
        performStep(step);
}

void Station::performStep(const QString &step)
{
    const QString verb = step.section(u' ', 0, 0);
    const QString name = step.section(u' ', 1, 1);
    const QString rest = step.section(u' ', 2);
    if (verb == u"reply")
        return m_panel->ReceiveText(step.mid(6));
    if (verb == u"answer")
        return dialogs.inputAnswers.append(step.mid(7));
    if (verb == u"close")
        return void(m_panel->close());
    if (verb == u"away")
        return visitAnotherWindow(*m_panel);
    QObject *target = find(name);
    QVERIFY2(target, qPrintable(QStringLiteral("no control named %1").arg(name)));
    auto *widget = qobject_cast<QWidget *>(target);
    if (verb == u"trigger") {
        qobject_cast<QAction *>(target)->trigger();
    } else if (verb == u"click") {
        click(widget);
    } else if (verb == u"type") {
        click(widget);
        QCoreApplication::processEvents();
        if (auto *box = qobject_cast<QPlainTextEdit *>(widget))
            box->moveCursor(QTextCursor::End);
        QTest::keyClicks(widget, rest);
    } else if (verb == u"key") {
        const QKeyCombination key = QKeySequence(rest)[0];
        QTest::keyClick(widget, key.key(), key.keyboardModifiers());
    } else if (verb == u"menu") {
        QFocusEvent popup(QEvent::FocusOut, Qt::PopupFocusReason);
        QCoreApplication::sendEvent(widget, &popup);
    } else if (verb == u"set") {
        target->setProperty(qobject_cast<QLineEdit *>(widget) ? "text" : "plainText", rest);
    } else if (verb == u"paste") {
        qobject_cast<QPlainTextEdit *>(widget)->insertPlainText(rest);
    } else if (verb == u"drag") {
        drag(qobject_cast<QAbstractSlider *>(widget), rest.toInt());
    } else if (verb == u"track" || verb == u"arrow") {
        using Slider = QAbstractSlider;
        const bool up = rest == u"+";
        qobject_cast<Slider *>(widget)->triggerAction(
            verb == u"track" ? (up ? Slider::SliderPageStepAdd : Slider::SliderPageStepSub)
                             : (up ? Slider::SliderSingleStepAdd : Slider::SliderSingleStepSub));
    } else if (verb == u"wheel") {
        turnWheel(widget, rest.toInt());
    } else {
        QFAIL(qPrintable(QStringLiteral("unknown step: %1").arg(step)));
    }
}

QByteArray Station::sentDuring(const QString &steps)
{
    heard.clear();
    perform(steps);
    m_panel->SendCommand(QString::fromLatin1(Marker));
    if (!QTest::qWaitFor([this] { return heard.endsWith(Marker); }))
        return QByteArrayLiteral("(marker never arrived) ") + heard;
    return heard.chopped(Marker.size());
}

// A "|" that does not start another NAME= belongs to the text before it.
QString Station::shows(const QString &expected) const
{
    static const QRegularExpression check(QStringLiteral("(?:^|\\|)(\\w+)="));
    QStringList actual;
    for (const QRegularExpressionMatch &match : check.globalMatch(expected)) {
        if (find(match.captured(1)) || actual.isEmpty())
            actual.append(match.captured(1) + u'=' + shown(find(match.captured(1))));
    }
    return actual.join(u'|');
}
