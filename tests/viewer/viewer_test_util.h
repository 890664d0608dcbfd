// Helpers for the viewer's tests: a dialog host that answers instead of the
// user, BMP files built in memory, files and folders.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <functional>

#include "dialog_host.h"
#include "settings_dialog.h"

namespace viewer_test {

// Records what the viewer shows and answers its dialogs from queues. An empty
// queue answers "Cancel".
class TestHost : public CDialogHost {
public:
    void MessageBox(QWidget *parent, const QString &text) override {
        messages.append(text);
        messageParents.append(parent);
    }
    QString GetOpenPath(QWidget *, const FileDialogSpec &spec) override {
        openSpecs.append(spec);
        return Next(openAnswers);
    }
    QString GetSavePath(QWidget *, const FileDialogSpec &spec) override {
        saveSpecs.append(spec);
        return Next(saveAnswers);
    }
    int RunSettings(CSettingsDialog &dialog) override {
        ++settingsRuns;
        if (!settings) return IDCANCEL;
        return settings(dialog);
    }
    void RunAbout(QWidget *) override { ++aboutRuns; }

    QStringList messages;
    QList<QWidget *> messageParents;
    QList<FileDialogSpec> openSpecs;
    QList<FileDialogSpec> saveSpecs;
    std::deque<QString> openAnswers;
    std::deque<QString> saveAnswers;
    // Plays the user's part in the settings dialog; returns IDOK or IDCANCEL.
    std::function<int(CSettingsDialog &)> settings;
    int settingsRuns = 0;
    int aboutRuns = 0;

private:
    static QString Next(std::deque<QString> &answers) {
        if (answers.empty()) return {};
        QString a = answers.front();
        answers.pop_front();
        return a;
    }
};

// Colour of a test picture's pixel (x, y), y counted from the top, as blue,
// green, red.
struct Bgr {
    uint8_t b, g, r;
    bool operator==(const Bgr &) const = default;
};
Bgr PatternPixel(int x, int y);

struct BmpOptions {
    int bitsPerPixel = 24;
    uint32_t headerSize = 40;
    bool topDown = false;
    uint32_t coloursUsed = 0;
    int64_t sizeField = -1;  // -1: the true length
    int dropTail = 0;        // bytes cut off the end after the size field was set
};

// A BMP file of width x height pixels with PatternPixel colours (bottom-up
// rows unless topDown).
QByteArray MakeBmp(int width, int height, const BmpOptions &options = {});
// The bottom-up, stride-padded rows MakeBmp writes for 24 bits.
QByteArray PatternRows(int width, int height);

QByteArray ReadFile(const QString &path);
void WriteFile(const QString &path, const QByteArray &bytes);

// tests/data/... in the source tree.
QString DataPath(const QString &relative);

}  // namespace viewer_test
