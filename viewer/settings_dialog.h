// "Plix Settings": the q-factor, quantisation matrix and compression mode asked
// for before a picture is written as a PLIX file.
#pragma once

#include <QDialog>

class QAbstractButton;
class QButtonGroup;
class QLineEdit;
class QRadioButton;
class QScrollBar;

// Dialog results, as the document compares them.
enum { IDOK = 1, IDCANCEL = 2 };

class CSettingsDialog : public QDialog {
    Q_OBJECT
public:
    // Control identifiers.
    enum {
        IDC_QFACTOR_SCROLL = 1007,
        IDC_QFACTOR_EDIT = 1008,
        IDC_MATRIX_PLIX = 1009,
        IDC_MATRIX_JPEG = 1010,
        IDC_MATRIX_CG = 1011,
        IDC_MODE_RGB = 1012,
        IDC_MODE_YUV = 1013,
    };
    // Horizontal scroll codes.
    enum {
        SB_LINELEFT = 0,
        SB_LINERIGHT = 1,
        SB_PAGELEFT = 2,
        SB_PAGERIGHT = 3,
        SB_THUMBPOSITION = 4,
        SB_THUMBTRACK = 5,
        SB_LEFT = 6,
        SB_RIGHT = 7,
        SB_ENDSCROLL = 8,
    };
    static constexpr int kMaxQFactor = 15;

    explicit CSettingsDialog(QWidget *parent = nullptr);

    // Copies the choices; meaningful once the dialog was closed with "&Save".
    void GetValues(int &mode, int &qFactor, int &matrix) const;

    // Handlers, public so that a caller without an event loop can drive them.
    void OnInitDialog();
    void OnHScroll(int code, int thumbPosition);
    void OnOK();

    QScrollBar *ScrollBar() const { return scroll_; }
    QLineEdit *Edit() const { return edit_; }
    QRadioButton *Radio(int id) const;
    QAbstractButton *SaveButton() const;
    QAbstractButton *CancelButton() const;

    // The edit box's text as a signed decimal number; 0 when it is not one.
    static int ParseNumber(const QString &text);

private:
    void OnSliderAction(int action);
    int DluX(int units) const;
    int DluY(int units) const;

    QScrollBar *scroll_ = nullptr;
    QLineEdit *edit_ = nullptr;
    QRadioButton *plix_ = nullptr;
    QRadioButton *jpeg_ = nullptr;
    QRadioButton *cg_ = nullptr;
    QRadioButton *rgb_ = nullptr;
    QRadioButton *yuv_ = nullptr;
    QAbstractButton *save_ = nullptr;
    QAbstractButton *cancel_ = nullptr;
    int baseX_ = 6;
    int baseY_ = 13;

    int mode_ = 0;
    int qFactor_ = 0;
    int matrix_ = 0;
};
