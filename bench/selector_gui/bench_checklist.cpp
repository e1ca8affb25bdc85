// An hour of 25 fps video gives the frame selector 90,000 items. Times filling the selector's list from
// a frame order (as "Normal" and "Sort" refill it) and scrolling it from end to end, beside the same
// work done with a QListWidget of checkable items, Qt's ready-made check-list, in the same run.
#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QScrollBar>
#include <cstdio>
#include <string>
#include <vector>

#include "dialogs/SelectVideoFrames.h"
#include "view/CTessaronView.h"

namespace {

// Counts the paints a widget receives, to be sure the timed work painted.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

constexpr int kItems = 90000;
constexpr int kRuns = 3;

// Pages down through the whole list, then jumps to random spots by the scroll bar, painting each time.
double ScrollThrough(QAbstractItemView* list) {
    QCoreApplication::processEvents();
    QElapsedTimer timer;
    timer.start();
    QScrollBar* bar = list->verticalScrollBar();
    bar->setValue(0);
    list->viewport()->repaint();
    for (int value = 0; value < bar->maximum(); value += bar->pageStep()) {
        bar->setValue(value);
        list->viewport()->repaint();
    }
    unsigned seed = 12345;
    for (int i = 0; i < 500; ++i) {
        seed = seed * 1103515245u + 12345u;
        bar->setValue(static_cast<int>((seed >> 8) % static_cast<unsigned>(bar->maximum() + 1)));
        list->viewport()->repaint();
    }
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

int Pages(QAbstractItemView* list) {
    QScrollBar* bar = list->verticalScrollBar();
    return bar->pageStep() > 0 ? bar->maximum() / bar->pageStep() + 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    // The order a sort leaves: scores descending in frame number, so list and frame numbers differ.
    std::vector<std::string> order;
    order.reserve(kItems);
    for (int i = 0; i < kItems; ++i) order.push_back(MakeFrameOrderKey(kItems - i, i));

    SelectVideoFrames dialog(nullptr, nullptr, &order);
    dialog.SetListRange(0, kItems);
    dialog.show();
    myCheckListBox& ours = dialog.FrameList();

    QListWidget reference;
    reference.setGeometry(ours.geometry());
    reference.setUniformItemSizes(true);
    reference.setSelectionMode(QAbstractItemView::ExtendedSelection);
    reference.show();
    // Windows paint only once the platform has shown them.
    for (int i = 0; i < 10; ++i) app.processEvents();
    PaintCounter oursPaints, refPaints;
    ours.viewport()->installEventFilter(&oursPaints);
    reference.viewport()->installEventFilter(&refPaints);

    double oursFill = 1e300, refFill = 1e300, oursScroll = 1e300, refScroll = 1e300;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer timer;
        timer.start();
        dialog.FillFrameList();
        QCoreApplication::processEvents();
        ours.viewport()->repaint();
        oursFill = std::min(oursFill, static_cast<double>(timer.nsecsElapsed()) / 1e6);

        timer.restart();
        reference.clear();
        for (int p = 0; p < kItems; ++p) {
            int score = 0, frame = 0;
            std::sscanf(order[static_cast<size_t>(p)].c_str(), "%d %d", &score, &frame);
            auto* item = new QListWidgetItem(QString::asprintf("%d  -  Original Frame Number %d", p, frame));
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
            item->setCheckState(Qt::Unchecked);
            reference.addItem(item);
        }
        QCoreApplication::processEvents();
        reference.viewport()->repaint();
        refFill = std::min(refFill, static_cast<double>(timer.nsecsElapsed()) / 1e6);

        oursScroll = std::min(oursScroll, ScrollThrough(&ours));
        refScroll = std::min(refScroll, ScrollThrough(&reference));
    }
    if (ours.GetCount() != kItems || reference.count() != kItems) {
        std::fprintf(stderr, "lists hold %d and %d items, expected %d\n", ours.GetCount(), reference.count(), kItems);
        return 1;
    }

    std::printf("check-list of %d items, best of %d runs (list %dx%d px, %d and %d pages)\n", kItems, kRuns,
                ours.width(), ours.height(), Pages(&ours), Pages(&reference));
    std::printf("  fill + first paint: myCheckListBox %8.1f ms   QListWidget %8.1f ms   ratio %.2f\n", oursFill,
                refFill, oursFill / refFill);
    std::printf(
        "  scroll end to end + 500 jumps, painting each: myCheckListBox %8.1f ms   QListWidget %8.1f ms   ratio %.2f\n",
        oursScroll, refScroll, oursScroll / refScroll);
    std::printf("  per painted page: myCheckListBox %.3f ms   QListWidget %.3f ms   (paints: %d and %d)\n",
                oursScroll / (Pages(&ours) + 501), refScroll / (Pages(&reference) + 501), oursPaints.paints,
                refPaints.paints);
    if (oursPaints.paints < kRuns * Pages(&ours) || refPaints.paints < kRuns * Pages(&reference)) {
        std::fprintf(stderr, "the lists did not paint every page\n");
        return 1;
    }
    return 0;
}
