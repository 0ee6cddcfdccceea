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

void letTextBeCopied(QMessageBox &box)
{
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
}
} // namespace

void QtDialogs::message(QWidget *parent, const QString &text, Icon icon)
{
    if (m_dismissed)
        return;
    QMessageBox box(boxIcon(icon), AppTitle, text, QMessageBox::Ok, parent);
    letTextBeCopied(box);
    box.exec();
}

// A message box is application modal unless told otherwise; this one goes
// once closed.
void QtDialogs::notice(QWidget *parent, const QString &text, Icon icon)
{
    if (m_dismissed)
        return;
    auto *box = new QMessageBox(boxIcon(icon), AppTitle, text, QMessageBox::Ok, parent);
    letTextBeCopied(*box);
    box->setWindowModality(Qt::NonModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
}

bool QtDialogs::question(QWidget *parent, const QString &text)
{
    if (m_dismissed)
        return false;
    QMessageBox box(QMessageBox::Question, AppTitle, text, QMessageBox::Yes | QMessageBox::No, parent);
    letTextBeCopied(box);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
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
