// Shows the document's picture at the document's zoom from the top-left
// corner; the rest of the client area keeps the window background. When the
// frame cannot grow to the whole zoomed picture, scroll bars reach the rest.
#pragma once

#include <QAbstractScrollArea>
#include <QSize>

class QPainter;
class CPlixrefDoc;

class CPlixrefView : public QAbstractScrollArea {
    Q_OBJECT
public:
    // Shown while there is no picture.
    static constexpr const char *kEmptyHint = "Open a picture with Ctrl+O or drop one here.";

    explicit CPlixrefView(CPlixrefDoc &doc, QWidget *parent = nullptr);
    ~CPlixrefView() override;

    CPlixrefDoc &GetDocument() const { return doc_; }
    void OnDraw(QPainter &dc);

    // The zoomed picture's size (empty without a picture).
    QSize ZoomedSize() const;
    // Shows or hides each scroll bar and sets their ranges to the zoomed picture.
    void SetScrollBars(bool horizontal, bool vertical);
    void UpdateScrollRanges();
    void ScrollToTopLeft();
    void ScrollToBottomRight();

signals:
    // Ctrl+wheel: +1 one zoom step up, -1 one step down.
    void zoomStepRequested(int direction);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    CPlixrefDoc &doc_;
    int wheelX_ = 0;  // angle not yet turned into steps, in eighths of a degree
    int wheelY_ = 0;
};
