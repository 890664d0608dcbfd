#include "dialog_host.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include "about_dialog.h"
#include "settings_dialog.h"

void CQtDialogHost::MessageBox(QWidget *parent, const QString &text) {
    QMessageBox::warning(parent, QStringLiteral("Plixref"), text, QMessageBox::Ok);
}

namespace {

QString RunFileDialog(QWidget *parent, const FileDialogSpec &spec, QFileDialog::AcceptMode mode) {
    QFileDialog dialog(parent);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                       : QFileDialog::AnyFile);
    dialog.setNameFilters(spec.filters);
    if (!spec.defaultExtension.isEmpty()) dialog.setDefaultSuffix(spec.defaultExtension);
    if (!spec.initialPath.isEmpty()) {
        const QFileInfo proposed(spec.initialPath);
        dialog.setDirectory(proposed.absolutePath());
        dialog.selectFile(proposed.fileName());
    }
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.front();
}

}  // namespace

QString CQtDialogHost::GetOpenPath(QWidget *parent, const FileDialogSpec &spec) {
    return RunFileDialog(parent, spec, QFileDialog::AcceptOpen);
}

QString CQtDialogHost::GetSavePath(QWidget *parent, const FileDialogSpec &spec) {
    return RunFileDialog(parent, spec, QFileDialog::AcceptSave);
}

int CQtDialogHost::RunSettings(CSettingsDialog &dialog) {
    return dialog.exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

void CQtDialogHost::RunAbout(QWidget *parent) {
    CAboutDialog about(parent);
    about.exec();
}
