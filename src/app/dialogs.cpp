#include "dialogs.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

namespace {
const QString AppTitle = QStringLiteral("Q9 Remote");

QMessageBox::Icon boxIcon(Dialogs::Icon icon)
{
    return icon == Dialogs::Icon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon;
}
} // namespace

void QtDialogs::message(QWidget *parent, const QString &text, Icon icon)
{
    if (m_dismissed)
        return;
    QMessageBox box(boxIcon(icon), AppTitle, text, QMessageBox::Ok, parent);
    box.exec();
}

// A message box is application modal unless told otherwise; this one goes
// once closed.
void QtDialogs::notice(QWidget *parent, const QString &text, Icon icon)
{
    if (m_dismissed)
        return;
    auto *box = new QMessageBox(boxIcon(icon), AppTitle, text, QMessageBox::Ok, parent);
    box->setWindowModality(Qt::NonModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
}

QString QtDialogs::input(QWidget *parent, const QString &prompt, const QString &title,
                         const QString &proposed)
{
    if (m_dismissed)
        return {};
    bool ok = false;
    const QString text = QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, proposed, &ok);
    return ok ? text : QString();
}

void QtDialogs::dismissAll()
{
    m_dismissed = true;
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (auto *box = qobject_cast<QDialog *>(window); box && box->isVisible())
            box->reject();
    }
}
