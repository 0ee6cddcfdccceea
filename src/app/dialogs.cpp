#include "dialogs.h"

#include <QInputDialog>
#include <QMessageBox>

namespace {
const QString AppTitle = QStringLiteral("Q9 Remote");
}

void QtDialogs::message(QWidget *parent, const QString &text, Icon icon)
{
    QMessageBox box(icon == Icon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon, AppTitle, text,
                    QMessageBox::Ok, parent);
    box.exec();
}

QString QtDialogs::input(QWidget *parent, const QString &prompt, const QString &title,
                         const QString &proposed)
{
    bool ok = false;
    const QString text = QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, proposed, &ok);
    return ok ? text : QString();
}
