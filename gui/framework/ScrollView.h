// The view side of the document/view framework: a scrolling view whose drawing is shifted by the
// scroll position, with printing and the hooks a document template calls.
#pragma once

#include <QAbstractScrollArea>
#include <QPoint>
#include <QSize>

class CChildFrame;
class CDocument;
class QPainter;
class QPrinter;

class CScrollView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit CScrollView(CDocument* document, QWidget* parent = nullptr);
    ~CScrollView() override;

    CDocument* GetDocument() const { return m_pDocument; }
    // The child frame around the view, or null.
    CChildFrame* GetParentFrame() const;

    // Called once by the document template after the view's frame is shown and the document loaded.
    virtual void OnInitialUpdate();
    // The document changed (for example a preference): redraw.
    virtual void OnUpdate(CScrollView* sender);
    // Draws the view's content. The painter is already shifted by the scroll position.
    virtual void OnDraw(QPainter& painter);
    // The largest outer size of the child frame, when the view sets one.
    virtual bool GetFrameLimits(int* width, int* height) const;
    // A menu command while this view is active; true when the view handled it.
    virtual bool OnCommand(int id);
    // Whether the view can carry out a menu command now (a video window without a video cannot).
    virtual bool IsCommandEnabled(int id) const;

    // Total size of the content, page and line steps.
    void SetScrollSizes(const QSize& total, const QSize& page, const QSize& line);
    QSize GetTotalSize() const { return m_totalSize; }
    // With a content size: that size plus the frame, so window arrangements (Cascade) give the view room
    // for all of it; otherwise the toolkit's default.
    QSize sizeHint() const override;
    // The content point shown at the top left of the view.
    QPoint GetScrollPosition() const;
    // Repaint the whole view at the next return to the event loop.
    void Invalidate();

    // Printing: a printer choice, then OnBeginPrinting, OnPrint (which draws with OnDraw), OnEndPrinting.
    void OnFilePrint();
    virtual bool OnPreparePrinting(QPrinter* printer);
    virtual void OnBeginPrinting(QPainter& painter, QPrinter* printer);
    virtual void OnPrint(QPainter& painter, QPrinter* printer);
    virtual void OnEndPrinting(QPainter& painter, QPrinter* printer);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void UpdateScrollBars();

private:
    CDocument* m_pDocument;
    QSize m_totalSize;
    QSize m_lineSize{10, 10};
};
