// "About Plixref" and the program's icon.
#pragma once

#include <QDialog>
#include <QIcon>

class CAboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDialog(QWidget *parent = nullptr);
};

// The program's icon: 32 x 32 and 16 x 16 images.
QIcon PlixrefIcon();
