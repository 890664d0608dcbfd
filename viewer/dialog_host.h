// Everything the viewer shows modally goes through a CDialogHost, so that the
// program's dialogs can be replaced where nobody can answer them (tests).
#pragma once

#include <QString>
#include <QStringList>

class QWidget;
class CSettingsDialog;

struct FileDialogSpec {
    QString defaultExtension;  // appended when the typed name has none; empty for none
    QStringList filters;       // "Description (*.a *.b)" entries
    QString initialPath;       // the file name proposed, in its folder; empty for none
};

class CDialogHost {
public:
    virtual ~CDialogHost() = default;
    // A message with an OK button.
    virtual void MessageBox(QWidget *parent, const QString &text) = 0;
    // The chosen path, or an empty string when the user cancelled.
    virtual QString GetOpenPath(QWidget *parent, const FileDialogSpec &spec) = 0;
    // As GetOpenPath; an existing file is replaced only after the user agreed.
    virtual QString GetSavePath(QWidget *parent, const FileDialogSpec &spec) = 0;
    // Runs the settings dialog; IDOK or IDCANCEL.
    virtual int RunSettings(CSettingsDialog &dialog) = 0;
    virtual void RunAbout(QWidget *parent) = 0;
};

// The real dialogs.
class CQtDialogHost : public CDialogHost {
public:
    void MessageBox(QWidget *parent, const QString &text) override;
    QString GetOpenPath(QWidget *parent, const FileDialogSpec &spec) override;
    QString GetSavePath(QWidget *parent, const FileDialogSpec &spec) override;
    int RunSettings(CSettingsDialog &dialog) override;
    void RunAbout(QWidget *parent) override;
};
