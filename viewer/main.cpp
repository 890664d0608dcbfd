#include <QApplication>

#include "dialog_host.h"
#include "plixref_app.h"

int main(int argc, char **argv) {
    QApplication application(argc, argv);
    CQtDialogHost host;
    CPlixrefApp app(host);
    if (!app.InitInstance(QApplication::arguments())) return 1;
    return QApplication::exec();
}
