#include "dialogs.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

namespace {
const QString AppTitle = QStringLiteral("Q9 Remote");
}

void QtDialogs::message(QWidget *parent, const QString &text, Icon icon)
{
    if (m_dismissed)
        return;
    QMessageBox box(icon == Icon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon, AppTitle, text,
                    QMessageBox::Ok, parent);
    box.exec();
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
