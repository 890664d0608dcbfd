#include "settings_dialog.h"

#include <QButtonGroup>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>

#include <algorithm>

CSettingsDialog::CSettingsDialog(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint) {
    setWindowTitle(QStringLiteral("Plix Settings"));

    // Positions are kept in dialog units: a quarter of the font's average
    // character width across, an eighth of its height down.
    const QFontMetrics fm(font());
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    baseX_ = std::max(1, (fm.horizontalAdvance(alphabet) / 26 + 1) / 2);
    baseY_ = std::max(1, fm.height());
    auto place = [this](QWidget *w, int x, int y, int cx, int cy) {
        w->setGeometry(DluX(x), DluY(y), DluX(cx), DluY(cy));
    };
    // A label in a wider font than the layout was drawn for may need a few
    // pixels more, up to the next control on its right (limit, dialog units).
    auto placeLabelled = [&](QWidget *w, int x, int y, int cx, int cy, int limit) {
        place(w, x, y, cx, cy);
        const int room = DluX(limit) - w->x();
        w->resize(std::max(w->width(), std::min(w->sizeHint().width(), room)), w->height());
    };

    // Group boxes first so that they lie beneath the controls they frame.
    auto *qGroup = new QGroupBox(QStringLiteral("Q-Factor"), this);
    place(qGroup, 3, 0, 133, 27);
    auto *matrixGroup = new QGroupBox(QStringLiteral("Q-Matrix"), this);
    place(matrixGroup, 3, 24, 65, 47);
    auto *modeGroup = new QGroupBox(QStringLiteral("Mode"), this);
    place(modeGroup, 69, 24, 67, 24);

    auto *save = new QPushButton(QStringLiteral("&Save"), this);
    save->setDefault(true);
    place(save, 71, 55, 30, 14);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), this);
    place(cancel, 104, 55, 30, 14);
    save_ = save;
    cancel_ = cancel;

    scroll_ = new QScrollBar(Qt::Horizontal, this);
    scroll_->setFocusPolicy(Qt::NoFocus);
    place(scroll_, 5, 10, 94, 11);
    edit_ = new QLineEdit(this);
    place(edit_, 104, 10, 27, 12);

    plix_ = new QRadioButton(QStringLiteral("&Plix"), this);
    placeLabelled(plix_, 7, 34, 26, 10, 68);
    jpeg_ = new QRadioButton(QStringLiteral("&Jpeg standard"), this);
    placeLabelled(jpeg_, 7, 45, 58, 10, 68);
    cg_ = new QRadioButton(QStringLiteral("&Cg,Animation"), this);
    placeLabelled(cg_, 7, 56, 54, 10, 70);
    rgb_ = new QRadioButton(QStringLiteral("&RGB"), this);
    placeLabelled(rgb_, 73, 34, 30, 10, 103);
    yuv_ = new QRadioButton(QStringLiteral("&YUV"), this);
    placeLabelled(yuv_, 103, 34, 29, 10, 135);
    // Each set of radio buttons is a group of its own.
    auto *matrixButtons = new QButtonGroup(this);
    for (QRadioButton *b : {plix_, jpeg_, cg_}) matrixButtons->addButton(b);
    auto *modeButtons = new QButtonGroup(this);
    for (QRadioButton *b : {rgb_, yuv_}) modeButtons->addButton(b);

    setTabOrder(save, cancel);
    setTabOrder(cancel, edit_);
    setTabOrder(edit_, plix_);
    setTabOrder(plix_, rgb_);
    setFixedSize(DluX(138), DluY(73));

    connect(save, &QPushButton::clicked, this, &CSettingsDialog::OnOK);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(scroll_, &QScrollBar::actionTriggered, this, &CSettingsDialog::OnSliderAction);
    connect(scroll_, &QScrollBar::sliderReleased, this,
            [this] { OnHScroll(SB_THUMBPOSITION, scroll_->sliderPosition()); });

    OnInitDialog();
    save->setFocus();
}

int CSettingsDialog::DluX(int units) const {
    return (units * baseX_ + 2) / 4;
}
int CSettingsDialog::DluY(int units) const {
    return (units * baseY_ + 4) / 8;
}

QRadioButton *CSettingsDialog::Radio(int id) const {
    switch (id) {
        case IDC_MATRIX_PLIX:
            return plix_;
        case IDC_MATRIX_JPEG:
            return jpeg_;
        case IDC_MATRIX_CG:
            return cg_;
        case IDC_MODE_RGB:
            return rgb_;
        case IDC_MODE_YUV:
            return yuv_;
        default:
            return nullptr;
    }
}

QAbstractButton *CSettingsDialog::SaveButton() const {
    return save_;
}
QAbstractButton *CSettingsDialog::CancelButton() const {
    return cancel_;
}

void CSettingsDialog::OnInitDialog() {
    scroll_->setRange(0, kMaxQFactor);
    scroll_->setSingleStep(1);
    scroll_->setPageStep(3);
    plix_->setChecked(true);
    yuv_->setChecked(true);
    edit_->setText(QString::number(0));
    mode_ = 0;
    qFactor_ = 0;
    matrix_ = 0;
}

void CSettingsDialog::OnSliderAction(int action) {
    // The scroll bar only reports; the handler decides where the thumb goes,
    // starting from where it was before the action.
    const int thumb = scroll_->sliderPosition();
    scroll_->setSliderPosition(scroll_->value());
    switch (action) {
        case QAbstractSlider::SliderSingleStepSub:
            OnHScroll(SB_LINELEFT, thumb);
            break;
        case QAbstractSlider::SliderSingleStepAdd:
            OnHScroll(SB_LINERIGHT, thumb);
            break;
        case QAbstractSlider::SliderPageStepSub:
            OnHScroll(SB_PAGELEFT, thumb);
            break;
        case QAbstractSlider::SliderPageStepAdd:
            OnHScroll(SB_PAGERIGHT, thumb);
            break;
        case QAbstractSlider::SliderMove:
            OnHScroll(SB_THUMBTRACK, thumb);
            break;
        case QAbstractSlider::SliderToMinimum:
            OnHScroll(SB_LEFT, thumb);
            break;
        case QAbstractSlider::SliderToMaximum:
            OnHScroll(SB_RIGHT, thumb);
            break;
        default:
            break;
    }
}

void CSettingsDialog::OnHScroll(int code, int thumbPosition) {
    const int p = scroll_->value();
    int next;
    switch (code) {
        case SB_LINELEFT:
            next = p - 1;
            break;
        case SB_LINERIGHT:
            next = p + 1;
            break;
        case SB_PAGELEFT:
            next = p - 3;
            break;
        case SB_PAGERIGHT:
            next = p + 3;
            break;
        case SB_THUMBPOSITION:
        case SB_THUMBTRACK:
            next = thumbPosition;
            break;
        default:
            return;
    }
    next = std::clamp(next, 0, kMaxQFactor);
    {
        const QSignalBlocker quiet(scroll_);
        scroll_->setValue(next);
        scroll_->setSliderPosition(next);
    }
    edit_->setText(QString::number(next));
}

int CSettingsDialog::ParseNumber(const QString &text) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 10);
    return ok ? v : 0;
}

void CSettingsDialog::OnOK() {
    if (yuv_->isChecked())
        mode_ = 0;
    else if (rgb_->isChecked())
        mode_ = 1;
    // The edit box, not the scroll bar, gives the q-factor. The codec keeps it
    // in one header byte and scales with it, so a typed number is held to the
    // range the scroll bar offers.
    qFactor_ = std::clamp(ParseNumber(edit_->text()), 0, kMaxQFactor);
    if (plix_->isChecked())
        matrix_ = 0;
    else if (jpeg_->isChecked())
        matrix_ = 1;
    else if (cg_->isChecked())
        matrix_ = 2;
    accept();
}

void CSettingsDialog::GetValues(int &mode, int &qFactor, int &matrix) const {
    mode = mode_;
    qFactor = qFactor_;
    matrix = matrix_;
}
