#include "plixref_view.h"

#include <QPainter>

#include "plixref_doc.h"

CPlixrefView::CPlixrefView(CPlixrefDoc &doc, QWidget *parent) : QWidget(parent), doc_(doc) {
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    doc_.AddView(this);
}

CPlixrefView::~CPlixrefView() {
    doc_.RemoveView(this);
}

void CPlixrefView::OnDraw(QPainter &dc) {
    DibRect client{0, 0, width(), height()};
    doc_.Picture().Paint(dc, client, QPoint(0, 0), doc_.ZoomPercent(),
                         QPainter::CompositionMode_Source);
}

void CPlixrefView::paintEvent(QPaintEvent *) {
    QPainter dc(this);
    OnDraw(dc);
}
