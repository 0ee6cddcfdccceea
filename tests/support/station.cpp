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
QString visitAnotherWindow(QWidget &panel)
{
    QWidget other;
    other.show();
    other.activateWindow();
    if (!QTest::qWaitForWindowActive(&other))
        return QStringLiteral("another window never came to the front");
    other.hide();
    panel.activateWindow();
    return QTest::qWaitForWindowActive(&panel) ? QString() : QStringLiteral("the panel never came back");
}

// What the operator does to a control, if it is of the kind the verb needs.
QString actOn(QObject *target, const QString &verb, const QString &how)
{
    auto *widget = qobject_cast<QWidget *>(target);
    auto *slider = qobject_cast<QAbstractSlider *>(target);
    auto *box = qobject_cast<QPlainTextEdit *>(target);
    const bool up = how == u"+";
    if (auto *item = qobject_cast<QAction *>(target); item && verb == u"trigger") {
        item->trigger();
    } else if (widget && verb == u"click") {
        click(widget);
    } else if (widget && verb == u"type") {
        click(widget);
        QCoreApplication::processEvents();
        if (box)
            box->moveCursor(QTextCursor::End);
        QTest::keyClicks(widget, how);
    } else if (widget && (verb == u"key" || verb == u"press" || verb == u"release")) {
        const QKeyCombination key = QKeySequence(how)[0];
        if (verb == u"key")
            QTest::keyClick(widget, key.key(), key.keyboardModifiers());
        else
            QTest::sendKeyEvent(verb == u"press" ? QTest::Press : QTest::Release, widget, key.key(),
                                QKeySequence(key).toString(), key.keyboardModifiers());
    } else if (widget && verb == u"menu") {
        QFocusEvent popup(QEvent::FocusOut, Qt::PopupFocusReason);
        QCoreApplication::sendEvent(widget, &popup);
    } else if (widget && verb == u"set") {
        // A property the control does not have is added, not set.
        if (!target->setProperty(qobject_cast<QLineEdit *>(widget) ? "text" : "plainText", how))
            return target->objectName() + QStringLiteral(" holds no text");
    } else if (box && verb == u"paste") {
        box->insertPlainText(how);
    } else if (slider && verb == u"drag") {
        drag(slider, how.toInt());
    } else if (slider && verb == u"track") {
        slider->triggerAction(up ? QAbstractSlider::SliderPageStepAdd : QAbstractSlider::SliderPageStepSub);
    } else if (slider && verb == u"arrow") {
        slider->triggerAction(up ? QAbstractSlider::SliderSingleStepAdd
                                 : QAbstractSlider::SliderSingleStepSub);
    } else if (widget && verb == u"wheel") {
        turnWheel(widget, how.toInt());
    } else {
        return QStringLiteral("no such step for ") + target->objectName();
    }
    return {};
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
        connect(m_serial.get(), &PseudoTerminal::received, this, &Station::hear);
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

// The status record is the last answer to the start-up query; once its
// offset is shown, every answer before it has been too.
QString Station::linkTo(const QString &link, const QString &address)
{
    const bool serial = link == u"serial";
    if (serial && !m_serial)
        plugSerial();
    else if (!serial && !m_relay)
        startRelay(address);
    // Through the relay the panel's "AI2;" stays its own level there, and the
    // radio hears the relay's check of its own level instead.
    const QByteArray lastSent = serial ? "AI2;" : "AI;";
    QString failed = perform(serial ? QStringLiteral("trigger Setcomm1")
                                    : QStringLiteral("answer %1|trigger Set_Host_Addr").arg(address));
    if (failed.isEmpty() && !QTest::qWaitFor([this, &lastSent] {
            return heard.endsWith(lastSent) && ::shown(control(QStringLiteral("rit_box"))).startsWith(u' ');
        }))
        failed = QStringLiteral("the radio's state never reached the panel, which sent ") + heard;
    heard.clear();
    return failed;
}

void Station::hear(const QByteArray &chunk)
{
    radio.receive(chunk);
    heard += chunk;
    emit heardChunk(chunk);
}

QString Station::perform(const QString &steps)
{
    if (!m_panel)
        start();
    if (const QString failed = showPanel(); !failed.isEmpty())
        return failed;
    for (const QString &step : steps.split(u'|', Qt::SkipEmptyParts)) {
        if (const QString failed = performStep(step); !failed.isEmpty())
            return QStringLiteral("step \"%1\": %2").arg(step, failed);
    }
    return {};
}

QString Station::showPanel()
{
    if (m_panel->isVisible())
        return {};
    m_panel->show();
    m_panel->activateWindow();
    return QTest::qWaitForWindowActive(m_panel.get()) ? QString() : QStringLiteral("the panel never showed");
}

QString Station::performStep(const QString &step)
{
    const QString verb = step.section(u' ', 0, 0);
    const QString name = step.section(u' ', 1, 1);
    const QString rest = step.section(u' ', 2);
    if (verb == u"reply")
        m_panel->ReceiveText(step.mid(6));
    else if (verb == u"answer")
        dialogs.inputAnswers.append(step.mid(7));
    else if (verb == u"close")
        m_panel->close();
    else if (verb == u"away")
        return visitAnotherWindow(*m_panel);
    else if (verb == u"link")
        return linkTo(name, rest);
    else if (QObject *target = control(name))
        return actOn(target, verb, rest);
    else
        return QStringLiteral("no control named ") + name;
    return {};
}

QByteArray Station::sentDuring(const QString &steps)
{
    heard.clear();
    if (const QString failed = perform(steps); !failed.isEmpty())
        return '<' + failed.toLatin1() + '>';
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
        if (control(match.captured(1)) || actual.isEmpty())
            actual.append(match.captured(1) + u'=' + shown(control(match.captured(1))));
    }
    return actual.join(u'|');
}
