#include "plixref_view.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cstdint>
#include <limits>

#include "plixref_doc.h"

namespace {

constexpr int kWheelStep = 120;  // one notch of a wheel, in eighths of a degree
constexpr int kLineStep = 20;    // pixels per arrow key or wheel line

void SetRange(QScrollBar *bar, int content, int page) {
    bar->setRange(0, std::max(0, content - page));
    bar->setPageStep(std::max(1, page));
    bar->setSingleStep(kLineStep);
}

// Turns whole notches of an accumulated wheel angle into steps, keeping the rest.
int TakeNotches(int &angle, int delta) {
    angle += delta;
    const int notches = angle / kWheelStep;
    angle -= notches * kWheelStep;
    return notches;
}

}  // namespace

CPlixrefView::CPlixrefView(CPlixrefDoc &doc, QWidget *parent)
    : QAbstractScrollArea(parent), doc_(doc) {
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setAutoFillBackground(true);
    viewport()->setBackgroundRole(QPalette::Window);
    doc_.AddView(this);
}

CPlixrefView::~CPlixrefView() {
    doc_.RemoveView(this);
}

QSize CPlixrefView::ZoomedSize() const {
    const CDibImage &picture = doc_.Picture();
    if (picture.IsEmpty()) return {};
    const int64_t limit = std::numeric_limits<int>::max();
    const int64_t w = int64_t{picture.GetWidth()} * doc_.ZoomPercent() / 100;
    const int64_t h = int64_t{picture.GetHeight()} * doc_.ZoomPercent() / 100;
    return {static_cast<int>(std::clamp<int64_t>(w, 0, limit)),
            static_cast<int>(std::clamp<int64_t>(h, 0, limit))};
}

void CPlixrefView::SetScrollBars(bool horizontal, bool vertical) {
    setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    UpdateScrollRanges();
}

void CPlixrefView::UpdateScrollRanges() {
    const QSize zoomed = ZoomedSize();
    const QSize page = viewport()->size();
    SetRange(horizontalScrollBar(), zoomed.width(), page.width());
    SetRange(verticalScrollBar(), zoomed.height(), page.height());
}

void CPlixrefView::ScrollToTopLeft() {
    horizontalScrollBar()->setValue(horizontalScrollBar()->minimum());
    verticalScrollBar()->setValue(verticalScrollBar()->minimum());
}

void CPlixrefView::ScrollToBottomRight() {
    horizontalScrollBar()->setValue(horizontalScrollBar()->maximum());
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void CPlixrefView::OnDraw(QPainter &dc) {
    if (doc_.Picture().IsEmpty()) {
        dc.setPen(palette().color(QPalette::WindowText));
        dc.drawText(viewport()->rect(), Qt::AlignCenter | Qt::TextSingleLine,
                    QString::fromUtf8(kEmptyHint));
        return;
    }
    // The visible part of the zoomed picture; the picture's first pixel in it
    // may start before the view's edge when a zoomed pixel is cut.
    const int zoom = std::max(1, doc_.ZoomPercent());
    const int sx = horizontalScrollBar()->value();
    const int sy = verticalScrollBar()->value();
    const QSize page = viewport()->size();
    DibRect visible{sx, sy, sx + page.width(), sy + page.height()};
    const QPoint origin(static_cast<int>(int64_t{sx} * 100 / zoom * zoom / 100) - sx,
                        static_cast<int>(int64_t{sy} * 100 / zoom * zoom / 100) - sy);
    doc_.Picture().Paint(dc, visible, origin, zoom, QPainter::CompositionMode_Source);
}

void CPlixrefView::paintEvent(QPaintEvent *) {
    QPainter dc(viewport());
    OnDraw(dc);
}

void CPlixrefView::resizeEvent(QResizeEvent *event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollRanges();
}

void CPlixrefView::scrollContentsBy(int, int) {
    viewport()->update();
}

void CPlixrefView::keyPressEvent(QKeyEvent *event) {
    // Arrows and Page Up / Page Down are the base class's.
    if (event->modifiers() == Qt::NoModifier) {
        if (event->key() == Qt::Key_Home) {
            ScrollToTopLeft();
            return;
        }
        if (event->key() == Qt::Key_End) {
            ScrollToBottomRight();
            return;
        }
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void CPlixrefView::wheelEvent(QWheelEvent *event) {
    const QPoint delta = event->angleDelta();
    const Qt::KeyboardModifiers mods = event->modifiers();
    if (mods & Qt::ControlModifier) {
        for (int n = TakeNotches(wheelY_, delta.y() ? delta.y() : delta.x()); n != 0;
             n += n > 0 ? -1 : 1)
            emit zoomStepRequested(n > 0 ? 1 : -1);
        event->accept();
        return;
    }
    // Shift turns the wheel sideways (unless the system did so already).
    int dx = delta.x();
    int dy = delta.y();
    if ((mods & Qt::ShiftModifier) && dx == 0) std::swap(dx, dy);
    const int lines = QApplication::wheelScrollLines();
    if (const int n = TakeNotches(wheelX_, dx))
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() - n * lines * kLineStep);
    if (const int n = TakeNotches(wheelY_, dy))
        verticalScrollBar()->setValue(verticalScrollBar()->value() - n * lines * kLineStep);
    event->accept();
}
