#include "app/dialogs.h"
#include "app/rmt_q9.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QtDialogs dialogs;
    Rmt_Q9 window(dialogs);
    window.show();
    return app.exec();
}
