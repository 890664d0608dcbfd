// The settings dialog: what it starts with, how the scroll bar moves, what the
// edit box and the radio buttons give.
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QtTest>

#include "settings_dialog.h"

class TestSettingsDialog : public QObject {
    Q_OBJECT

    static void Values(const CSettingsDialog &d, int &mode, int &q, int &matrix) {
        d.GetValues(mode, q, matrix);
    }

private slots:
    void initialState() {
        CSettingsDialog d;
        QCOMPARE(d.windowTitle(), QStringLiteral("Plix Settings"));
        QCOMPARE(d.ScrollBar()->minimum(), 0);
        QCOMPARE(d.ScrollBar()->maximum(), 15);
        QCOMPARE(d.ScrollBar()->value(), 0);
        QCOMPARE(d.ScrollBar()->orientation(), Qt::Horizontal);
        QCOMPARE(d.Edit()->text(), QStringLiteral("0"));
        QVERIFY(d.Radio(CSettingsDialog::IDC_MATRIX_PLIX)->isChecked());
        QVERIFY(!d.Radio(CSettingsDialog::IDC_MATRIX_JPEG)->isChecked());
        QVERIFY(!d.Radio(CSettingsDialog::IDC_MATRIX_CG)->isChecked());
        QVERIFY(d.Radio(CSettingsDialog::IDC_MODE_YUV)->isChecked());
        QVERIFY(!d.Radio(CSettingsDialog::IDC_MODE_RGB)->isChecked());
        int mode = -1, q = -1, matrix = -1;
        Values(d, mode, q, matrix);
        QCOMPARE(mode, 0);
        QCOMPARE(q, 0);
        QCOMPARE(matrix, 0);
    }

    void labels() {
        CSettingsDialog d;
        QCOMPARE(d.SaveButton()->text(), QStringLiteral("&Save"));
        QCOMPARE(d.CancelButton()->text(), QStringLiteral("Cancel"));
        QVERIFY(qobject_cast<QPushButton *>(d.SaveButton())->isDefault());
        QCOMPARE(d.Radio(CSettingsDialog::IDC_MATRIX_PLIX)->text(), QStringLiteral("&Plix"));
        QCOMPARE(d.Radio(CSettingsDialog::IDC_MATRIX_JPEG)->text(),
                 QStringLiteral("&Jpeg standard"));
        QCOMPARE(d.Radio(CSettingsDialog::IDC_MATRIX_CG)->text(), QStringLiteral("&Cg,Animation"));
        QCOMPARE(d.Radio(CSettingsDialog::IDC_MODE_RGB)->text(), QStringLiteral("&RGB"));
        QCOMPARE(d.Radio(CSettingsDialog::IDC_MODE_YUV)->text(), QStringLiteral("&YUV"));
        QStringList groups;
        for (QGroupBox *g : d.findChildren<QGroupBox *>()) groups << g->title();
        groups.sort();
        QCOMPARE(groups, QStringList({"Mode", "Q-Factor", "Q-Matrix"}));
    }

    void saveAtOnce() {
        CSettingsDialog d;
        d.OnOK();
        QCOMPARE(d.result(), int(QDialog::Accepted));
        int mode = -1, q = -1, matrix = -1;
        Values(d, mode, q, matrix);
        QCOMPARE(mode, 0);
        QCOMPARE(q, 0);
        QCOMPARE(matrix, 0);
    }

    void scrollCodes() {
        CSettingsDialog d;
        for (int i = 0; i < 3; ++i) d.OnHScroll(CSettingsDialog::SB_LINERIGHT, 0);
        d.OnHScroll(CSettingsDialog::SB_PAGERIGHT, 0);
        QCOMPARE(d.ScrollBar()->value(), 6);
        QCOMPARE(d.Edit()->text(), QStringLiteral("6"));
        d.OnHScroll(CSettingsDialog::SB_LINELEFT, 0);
        QCOMPARE(d.ScrollBar()->value(), 5);
        d.OnHScroll(CSettingsDialog::SB_PAGELEFT, 0);
        QCOMPARE(d.ScrollBar()->value(), 2);
        QCOMPARE(d.Edit()->text(), QStringLiteral("2"));
        // Thumb codes take the given position.
        d.OnHScroll(CSettingsDialog::SB_THUMBTRACK, 11);
        QCOMPARE(d.ScrollBar()->value(), 11);
        d.OnHScroll(CSettingsDialog::SB_THUMBPOSITION, 9);
        QCOMPARE(d.ScrollBar()->value(), 9);
        QCOMPARE(d.Edit()->text(), QStringLiteral("9"));
        // End codes change nothing, not even the edit box.
        d.Edit()->setText(QStringLiteral("typed"));
        for (int code : {int(CSettingsDialog::SB_LEFT), int(CSettingsDialog::SB_RIGHT),
                         int(CSettingsDialog::SB_ENDSCROLL), 42}) {
            d.OnHScroll(code, 3);
            QCOMPARE(d.ScrollBar()->value(), 9);
            QCOMPARE(d.Edit()->text(), QStringLiteral("typed"));
        }
    }

    void scrollClamping_data() {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("thumb");
        QTest::addColumn<int>("expected");
        QTest::newRow("page left from 1") << 1 << int(CSettingsDialog::SB_PAGELEFT) << 0 << 0;
        QTest::newRow("page right from 14") << 14 << int(CSettingsDialog::SB_PAGERIGHT) << 0 << 15;
        QTest::newRow("line left from 0") << 0 << int(CSettingsDialog::SB_LINELEFT) << 0 << 0;
        QTest::newRow("line right from 15") << 15 << int(CSettingsDialog::SB_LINERIGHT) << 0 << 15;
        QTest::newRow("thumb to the right end")
            << 4 << int(CSettingsDialog::SB_THUMBTRACK) << 15 << 15;
        QTest::newRow("thumb past the end")
            << 4 << int(CSettingsDialog::SB_THUMBPOSITION) << 99 << 15;
        QTest::newRow("thumb below 0") << 4 << int(CSettingsDialog::SB_THUMBTRACK) << -7 << 0;
    }
    void scrollClamping() {
        QFETCH(int, start);
        QFETCH(int, code);
        QFETCH(int, thumb);
        QFETCH(int, expected);
        CSettingsDialog d;
        d.OnHScroll(CSettingsDialog::SB_THUMBPOSITION, start);
        d.OnHScroll(code, thumb);
        QCOMPARE(d.ScrollBar()->value(), expected);
        QCOMPARE(d.Edit()->text(), QString::number(expected));
    }

    // The real scroll bar's actions arrive as the same codes.
    void scrollBarActions() {
        CSettingsDialog d;
        QScrollBar *bar = d.ScrollBar();
        for (int i = 0; i < 3; ++i) bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        QCOMPARE(bar->value(), 6);
        QCOMPARE(d.Edit()->text(), QStringLiteral("6"));
        bar->triggerAction(QAbstractSlider::SliderPageStepSub);
        bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
        QCOMPARE(bar->value(), 2);
        QCOMPARE(d.Edit()->text(), QStringLiteral("2"));
        bar->triggerAction(QAbstractSlider::SliderToMaximum);
        QCOMPARE(bar->value(), 2);
        bar->triggerAction(QAbstractSlider::SliderToMinimum);
        QCOMPARE(bar->value(), 2);
        // Dragging the thumb to the right end.
        bar->setSliderDown(true);
        bar->setSliderPosition(15);
        bar->setSliderDown(false);
        QCOMPARE(bar->value(), 15);
        QCOMPARE(d.Edit()->text(), QStringLiteral("15"));
    }

    void typedNumbers_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");
        QTest::newRow("9") << "9" << 9;
        QTest::newRow("15") << "15" << 15;
        QTest::newRow("spaces") << " 12 " << 12;
        QTest::newRow("letters") << "abc" << 0;
        QTest::newRow("digits then letters") << "7x" << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("above 15") << "99" << 15;
        QTest::newRow("huge") << "123456789012" << 0;
        QTest::newRow("negative") << "-4" << 0;
    }
    void typedNumbers() {
        QFETCH(QString, text);
        QFETCH(int, expected);
        CSettingsDialog d;
        d.OnHScroll(CSettingsDialog::SB_LINERIGHT, 0);
        d.Edit()->setText(text);
        d.OnOK();
        int mode = -1, q = -1, matrix = -1;
        d.GetValues(mode, q, matrix);
        QCOMPARE(q, expected);
        // The typed number is not copied back to the scroll bar.
        QCOMPARE(d.ScrollBar()->value(), 1);
    }

    void buttonMapping_data() {
        QTest::addColumn<int>("matrixButton");
        QTest::addColumn<int>("modeButton");
        QTest::addColumn<int>("matrix");
        QTest::addColumn<int>("mode");
        const int matrices[] = {CSettingsDialog::IDC_MATRIX_PLIX, CSettingsDialog::IDC_MATRIX_JPEG,
                                CSettingsDialog::IDC_MATRIX_CG};
        for (int m = 0; m < 3; ++m) {
            QTest::addRow("matrix %d, RGB", m)
                << matrices[m] << int(CSettingsDialog::IDC_MODE_RGB) << m << 1;
            QTest::addRow("matrix %d, YUV", m)
                << matrices[m] << int(CSettingsDialog::IDC_MODE_YUV) << m << 0;
        }
    }
    void buttonMapping() {
        QFETCH(int, matrixButton);
        QFETCH(int, modeButton);
        QFETCH(int, matrix);
        QFETCH(int, mode);
        CSettingsDialog d;
        // Pick the other buttons first so that every click really changes the group.
        d.Radio(CSettingsDialog::IDC_MATRIX_CG)->click();
        d.Radio(CSettingsDialog::IDC_MODE_RGB)->click();
        d.Radio(matrixButton)->click();
        d.Radio(modeButton)->click();
        int checked = 0;
        for (int id = CSettingsDialog::IDC_MATRIX_PLIX; id <= CSettingsDialog::IDC_MATRIX_CG; ++id)
            checked += d.Radio(id)->isChecked();
        QCOMPARE(checked, 1);
        QTest::mouseClick(d.SaveButton(), Qt::LeftButton);
        QCOMPARE(d.result(), int(QDialog::Accepted));
        int gotMode = -1, q = -1, gotMatrix = -1;
        d.GetValues(gotMode, q, gotMatrix);
        QCOMPARE(gotMatrix, matrix);
        QCOMPARE(gotMode, mode);
        QCOMPARE(q, 0);
    }

    void cancelAndKeys() {
        CSettingsDialog d;
        QTest::mouseClick(d.CancelButton(), Qt::LeftButton);
        QCOMPARE(d.result(), int(QDialog::Rejected));

        CSettingsDialog enter;
        enter.show();
        QVERIFY(QTest::qWaitForWindowExposed(&enter));
        enter.Edit()->setText(QStringLiteral("5"));
        QTest::keyClick(enter.Edit(), Qt::Key_Return);
        QCOMPARE(enter.result(), int(QDialog::Accepted));
        int mode = -1, q = -1, matrix = -1;
        enter.GetValues(mode, q, matrix);
        QCOMPARE(q, 5);

        CSettingsDialog escape;
        escape.show();
        QVERIFY(QTest::qWaitForWindowExposed(&escape));
        QTest::keyClick(&escape, Qt::Key_Escape);
        QCOMPARE(escape.result(), int(QDialog::Rejected));
        QVERIFY(!(escape.windowFlags() & Qt::WindowCloseButtonHint));
    }
};

QTEST_MAIN(TestSettingsDialog)
#include "settings_dialog_test.moc"
