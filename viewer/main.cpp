#include <QApplication>

#include <cstdio>

#include "command_line.h"
#include "dialog_host.h"
#include "plixref_app.h"

namespace {

QStringList RawArguments(int argc, char **argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

int Print(std::FILE *to, const QString &text, int status) {
    std::fputs(text.toLocal8Bit().constData(), to);
    return status;
}

}  // namespace

int main(int argc, char **argv) {
    QCoreApplication::setApplicationName(QString::fromLatin1(CPlixrefApp::kAppName));
    // Help and version need no display: answer them before the window
    // system is opened.
    const CommandLineInfo early = ParseCommandLine(RawArguments(argc, argv));
    if (early.action == CommandLineInfo::ShowHelp || early.action == CommandLineInfo::ShowVersion) {
        QCoreApplication core(argc, argv);
        return Print(stdout, ParseCommandLine(QCoreApplication::arguments()).text, 0);
    }

    QApplication application(argc, argv);
    // Qt's own options are gone from the arguments now.
    const CommandLineInfo info = ParseCommandLine(QApplication::arguments());
    if (info.action != CommandLineInfo::Run) return Print(stderr, info.text, 2);
    CQtDialogHost host;
    CPlixrefApp app(host);
    QStringList arguments{QApplication::arguments().value(0)};
    if (!info.file.isEmpty()) arguments << info.file;
    if (!app.InitInstance(arguments)) return 1;
    return QApplication::exec();
}
