// Shows the document's picture at the document's zoom from the top-left corner;
// the rest of the client area keeps the window background.
#pragma once

#include <QWidget>

class QPainter;
class CPlixrefDoc;

class CPlixrefView : public QWidget {
    Q_OBJECT
public:
    explicit CPlixrefView(CPlixrefDoc &doc, QWidget *parent = nullptr);
    ~CPlixrefView() override;

    CPlixrefDoc &GetDocument() const { return doc_; }
    void OnDraw(QPainter &dc);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    CPlixrefDoc &doc_;
};
