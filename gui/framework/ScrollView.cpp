#include "framework/ScrollView.h"

#include <QPainter>
#include <QPaintEvent>
#include <QPrinter>
#include <QScrollBar>

#include "framework/ChildFrame.h"
#include "framework/Document.h"
#include "framework/Framework.h"

CScrollView::CScrollView(CDocument* document, QWidget* parent) : QAbstractScrollArea(parent), m_pDocument(document) {
    if (m_pDocument) m_pDocument->AddView(this);
}

CScrollView::~CScrollView() {
    if (m_pDocument) m_pDocument->RemoveView(this);
}

CChildFrame* CScrollView::GetParentFrame() const {
    for (QWidget* w = parentWidget(); w; w = w->parentWidget()) {
        if (auto* frame = qobject_cast<CChildFrame*>(w)) return frame;
    }
    return nullptr;
}

void CScrollView::OnInitialUpdate() { OnUpdate(nullptr); }

void CScrollView::OnUpdate(CScrollView*) { Invalidate(); }

void CScrollView::OnDraw(QPainter&) {}

bool CScrollView::GetFrameLimits(int*, int*) const { return false; }

bool CScrollView::OnCommand(int) { return false; }

bool CScrollView::IsCommandEnabled(int) const { return true; }

void CScrollView::SetScrollSizes(const QSize& total, const QSize& page, const QSize& line) {
    m_totalSize = total;
    // Page steps follow the visible size, so the scroll bars' handles show how much is visible; the
    // requested page size is kept only as the smallest step.
    Q_UNUSED(page);
    m_lineSize = line;
    UpdateScrollBars();
    updateGeometry();
}

QSize CScrollView::sizeHint() const {
    if (m_totalSize.isEmpty()) return QAbstractScrollArea::sizeHint();
    // The edge, and what the view keeps beside its picture (a row under it).
    const int edge = 2 * frameWidth();
    const QMargins beside = viewportMargins();
    return m_totalSize + QSize(edge + beside.left() + beside.right(), edge + beside.top() + beside.bottom());
}

QPoint CScrollView::GetScrollPosition() const {
    return QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

void CScrollView::Invalidate() { viewport()->update(); }

void CScrollView::UpdateScrollBars() {
    QSize visible = viewport()->size();
    // When everything fits without scroll bars, measure without them, or they would keep themselves.
    QSize whole = maximumViewportSize();
    if (m_totalSize.width() <= whole.width() && m_totalSize.height() <= whole.height()) visible = whole;
    horizontalScrollBar()->setRange(0, qMax(0, m_totalSize.width() - visible.width()));
    verticalScrollBar()->setRange(0, qMax(0, m_totalSize.height() - visible.height()));
    horizontalScrollBar()->setSingleStep(qMax(1, m_lineSize.width()));
    verticalScrollBar()->setSingleStep(qMax(1, m_lineSize.height()));
    horizontalScrollBar()->setPageStep(qMax(1, visible.width()));
    verticalScrollBar()->setPageStep(qMax(1, visible.height()));
}

void CScrollView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    QPoint scroll = GetScrollPosition();
    painter.translate(-scroll.x(), -scroll.y());
    OnDraw(painter);
}

void CScrollView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
}

void CScrollView::scrollContentsBy(int, int) { viewport()->update(); }

void CScrollView::OnFilePrint() {
    QPrinter* printer = AppPrinter();
    if (!printer || !OnPreparePrinting(printer)) return;
    QPainter painter;
    if (!painter.begin(printer)) {
        AppFramework().MessageBox(this, QStringLiteral("The printer could not be started."), QStringLiteral("Tessaron"),
                                  MB_OK | MB_ICONWARNING);
        return;
    }
    OnBeginPrinting(painter, printer);
    OnPrint(painter, printer);
    OnEndPrinting(painter, printer);
    painter.end();
}

bool CScrollView::OnPreparePrinting(QPrinter* printer) { return AppFramework().PrintDialog(this, printer); }

void CScrollView::OnBeginPrinting(QPainter&, QPrinter*) {}

void CScrollView::OnPrint(QPainter& painter, QPrinter*) { OnDraw(painter); }

void CScrollView::OnEndPrinting(QPainter&, QPrinter*) {}
