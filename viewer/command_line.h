// The viewer's command line: an optional picture to open, --help and
// --version. Help and version are answered without opening a window.
#pragma once

#include <QString>
#include <QStringList>

struct CommandLineInfo {
    enum Action { Run, ShowHelp, ShowVersion, Fail };
    Action action = Run;
    QString file;  // Run: the picture to open; empty for an empty window
    QString text;  // ShowHelp, ShowVersion, Fail: what to print
};

// arguments[0] is the program. Texts need an application object; without
// one only the action and the file are filled in.
CommandLineInfo ParseCommandLine(const QStringList &arguments);

// The viewer's version and that of the codec library, as loaded by name.
QString VersionText(const char *libraryName);
