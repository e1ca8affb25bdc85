// tessaron_walkthrough: the program as a new user meets it, step by step, with a PNG of each step.
//
//   tessaron_walkthrough --out DIR --work DIR [--large CLIP_L] CLIP_A CLIP_B CLIP_C NOT_A_VIDEO
//
// CLIP_L, when given, is a video larger than the screen (4K): it is opened at the end and must open
// fitted into its window (a screenshot of it for the README).
// CLIP_A is opened from the command line, CLIP_B through File > Open, CLIP_C by a drop on the main
// window, NOT_A_VIDEO through File > Open again (it must be refused). The program's real classes and
// its real dialogs run; the driver only does what a person does: menu actions, clicks and keys on the
// controls, a drag over the picture, typing a file name into the file dialog. Files written (AVI, BMP,
// Tessaron.ini) go to the work folder, screenshots to the out folder; one line per step on standard
// output says what the step showed. The exit code is the number of checks that failed.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QMimeData>
#include <QPixmap>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QComboBox>
#include <QGroupBox>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <cstdio>
#include <functional>
#include <vector>

#include "dialogs/AboutBox.h"
#include "framework/DocTemplate.h"
#include "framework/Document.h"
#include "app/MainFrame.h"
#include "dialogs/Preferences.h"
#include "dialogs/ScorePlot.h"
#include "app/HelpWindow.h"
#include "app/TessaronApp.h"
#include "dialogs/SelectVideoFrames.h"
#include "dialogs/ViewDialogs.h"
#include "framework/StatusBar.h"
#include "view/CTessaronView.h"

namespace {

QString g_out;
QString g_work;
QString g_large;
int g_failures = 0;

void Check(bool ok, const QString& what) {
    if (ok) return;
    ++g_failures;
    std::fprintf(stderr, "FAILED: %s\n", qPrintable(what));
}

// Lets paints, queued calls and deferred deletions run, as the screen would between two user actions.
void Settle(int ms = 60) { QTest::qWait(ms); }

void Shot(QWidget* widget, const QString& name, const QString& note = QString()) {
    Settle();
    const QString path = g_out + QLatin1Char('/') + name + QStringLiteral(".png");
    const bool saved = widget && widget->grab().save(path, "PNG");
    Check(saved, QStringLiteral("screenshot ") + name);
    std::printf("%-30s %s\n", qPrintable(name), qPrintable(note));
    std::fflush(stdout);
}

QString Quoted(const QString& text) {
    QString t = text;
    t.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    return QLatin1Char('"') + t + QLatin1Char('"');
}

// Runs handler once a visible window of type T is up (the active modal one first): modal dialogs run
// their own event loop, so the handler is called from inside it, as a person would act on the dialog.
template <class T>
void WhenShown(std::function<void(T*)> handler) {
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, handler] {
        T* found = qobject_cast<T*>(QApplication::activeModalWidget());
        if (!found) {
            // A tool docked in the main window is no window of its own.
            for (QWidget* w : QApplication::allWidgets()) {
                if (auto* t = qobject_cast<T*>(w); t && t->isVisible()) found = t;
            }
        }
        if (!found || !found->isVisible()) return;
        timer->stop();
        timer->deleteLater();
        Settle(100);
        handler(found);
    });
    timer->start(30);
}

// A modal window that nobody expected (no handler took it for half a minute) is photographed, reported
// and closed, so the walk goes on instead of hanging.
void WatchForStrayDialogs() {
    auto* timer = new QTimer(qApp);
    auto since = std::make_shared<QElapsedTimer>();
    auto seen = std::make_shared<QPointer<QWidget>>();
    auto count = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [since, seen, count] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) {
            *seen = nullptr;
            return;
        }
        if (modal != seen->data()) {
            *seen = modal;
            since->start();
            return;
        }
        if (since->elapsed() < 30000) return;
        Shot(modal, QStringLiteral("stray-%1").arg(++*count), modal->windowTitle());
        Check(false, QStringLiteral("a window nobody expected: ") + Quoted(modal->windowTitle()));
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            QTimer::singleShot(0, box, [box] { box->done(QMessageBox::No); });
        } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            QTimer::singleShot(0, dialog, [dialog] { dialog->reject(); });
        }
        *seen = nullptr;
    });
    timer->start(500);
}

// Photographs the main window (and the selector, when given) once, while a long loop shows that it has
// passed half of its rounds. A loop too quick to be caught leaves no picture: EndMidLoop then says so.
QPointer<QTimer> ShootMidLoop(CMainFrame* frame, int rounds, const QString& name,
                              SelectVideoFrames* selector = nullptr) {
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        if (!mainStatusBar) return;
        const QString text = mainStatusBar->GetPaneText(0);
        if (!text.startsWith(QStringLiteral("Processing Frame"))) return;
        if (mainStatusBar->Progress()->value() < rounds / 2) return;
        timer->stop();
        timer->deleteLater();
        Shot(frame, name, QStringLiteral("status ") + Quoted(text));
        if (selector) Shot(selector, name + QStringLiteral("-selector"), QStringLiteral("mid-loop"));
    });
    timer->start(10);
    return timer;
}

void EndMidLoop(QPointer<QTimer> timer, const QString& name) {
    if (!timer) return;
    std::printf("%-30s (the loop ended before it could be photographed)\n", qPrintable(name));
    delete timer.data();
}

// Answers a file dialog by typing path into its name field and pressing Enter.
void AnswerFileDialog(const QString& name, const QString& path) {
    WhenShown<QFileDialog>([name, path](QFileDialog* dialog) {
        Shot(dialog, name, QStringLiteral("file dialog ") + Quoted(dialog->windowTitle()));
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        Check(name != nullptr, QStringLiteral("the file dialog's name field"));
        if (!name) return;
        name->setFocus();
        name->setText(path);
        QTest::keyClick(name, Qt::Key_Return);
    });
}

CTessaronView* ViewOf(CDocument* doc) {
    return doc && !doc->GetViews().isEmpty() ? qobject_cast<CTessaronView*>(doc->GetViews().first()) : nullptr;
}

QMdiSubWindow* WindowOf(CTessaronView* view) {
    for (QWidget* w = view; w; w = w->parentWidget()) {
        if (auto* sub = qobject_cast<QMdiSubWindow*>(w)) return sub;
    }
    return nullptr;
}

QString StatusText() { return mainStatusBar ? mainStatusBar->GetPaneText(0) : QString(); }

QString Describe(CMainFrame* frame) {
    return QStringLiteral("title %1, %2 window(s), status %3")
        .arg(Quoted(frame->windowTitle()))
        .arg(frame->MdiArea()->subWindowList().size())
        .arg(Quoted(StatusText()));
}

QPoint ItemCenter(myCheckListBox& list, int row) { return list.visualRect(list.model()->index(row, 0)).center(); }

// The selector, from opening to Close: stepping through frames, Sort, the preview at qualities 5 and 95,
// checked frames written, the displayed frame saved.
void SelectorSteps(CMainFrame* frame, CTessaronView* view, SelectVideoFrames* sel, int frameCount) {
    Shot(sel, QStringLiteral("06-selector"),
         QStringLiteral("caption %1, %2 items, status %3")
             .arg(Quoted(sel->windowTitle()))
             .arg(sel->FrameList().GetCount())
             .arg(Quoted(sel->StatusText())));
    Check(sel->FrameList().GetCount() == frameCount, QStringLiteral("one item per frame"));

    // A click on the first item, then the arrow key through the next twelve.
    myCheckListBox& list = sel->FrameList();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, ItemCenter(list, 0));
    for (int i = 0; i < 12; ++i) {
        QTest::keyClick(&list, Qt::Key_Down);
        Settle(20);
    }
    Check(view->m_currentFrame == 12, QStringLiteral("the arrow keys stepped to frame 12"));
    Shot(frame, QStringLiteral("07-stepped"), Describe(frame));
    Shot(sel, QStringLiteral("07-stepped-selector"), QStringLiteral("status ") + Quoted(sel->StatusText()));

    QPointer<QTimer> midSort = ShootMidLoop(frame, frameCount, QStringLiteral("08-sorting"), sel);
    QTest::mouseClick(sel->SortButton(), Qt::LeftButton);
    EndMidLoop(midSort, QStringLiteral("08-sorting"));
    Settle(200);
    Check(sel->windowTitle() == QStringLiteral("Video Frame Selector - Sorted by 'JPEG size'."),
          QStringLiteral("sorted caption"));
    Shot(frame, QStringLiteral("09-sorted"), Describe(frame));
    Shot(sel, QStringLiteral("09-sorted-selector"),
         QStringLiteral("caption %1, first item %2, status %3")
             .arg(Quoted(sel->windowTitle()), Quoted(list.GetText(0)), Quoted(sel->StatusText())));
    Check(sel->Plot()->isVisible() && sel->Plot()->HasScores(), QStringLiteral("the score plot shows after Sort"));
    // The status bar gives the best frame's score in words and its rank, for either score.
    Check(mainStatusBar->FrameText().contains(QStringLiteral(" bytes at quality 25, rank 1 of ")),
          QStringLiteral("the JPEG size in words"));
    Shot(mainStatusBar, QStringLiteral("09a-status-jpeg"),
         QStringLiteral("frame pane ") + Quoted(mainStatusBar->FrameText()));
    sel->ScoreBox()->setCurrentIndex(1);
    QTest::mouseClick(sel->SortButton(), Qt::LeftButton);
    Settle(200);
    Check(mainStatusBar->FrameText().contains(QStringLiteral("sharpness ")) &&
              mainStatusBar->FrameText().contains(QStringLiteral(", rank 1 of ")),
          QStringLiteral("the sharpness in words"));
    Check(!sel->QualitySpin()->isEnabled(), QStringLiteral("the quality is off for the sharpness"));
    Shot(frame, QStringLiteral("09b-sorted-sharpness"), Describe(frame));
    Shot(mainStatusBar, QStringLiteral("09b-status-sharpness"),
         QStringLiteral("frame pane ") + Quoted(mainStatusBar->FrameText()));
    Shot(sel, QStringLiteral("09b-sorted-sharpness-selector"), Quoted(sel->SortGroup()->title()));
    sel->ScoreBox()->setCurrentIndex(0);
    QTest::mouseClick(sel->SortButton(), Qt::LeftButton);
    Settle(200);

    // The quality down to 5 and then up to 95 with the arrow keys of the quality field.
    sel->QualitySpin()->setFocus();
    for (int i = 0; i < 20; ++i) QTest::keyClick(sel->QualitySpin(), Qt::Key_Down);
    Check(sel->Quality() == 5 && view->m_previewOn == 1, QStringLiteral("preview on at quality 5"));
    Shot(frame, QStringLiteral("10-preview-q5"), Describe(frame));
    Shot(WindowOf(view), QStringLiteral("10-preview-q5-window"), QStringLiteral("the video's window alone"));
    Shot(sel, QStringLiteral("10-preview-q5-selector"), QStringLiteral("status ") + Quoted(sel->StatusText()));
    for (int i = 0; i < 90; ++i) QTest::keyClick(sel->QualitySpin(), Qt::Key_Up);
    Check(sel->Quality() == 95 && view->m_previewOn == 1, QStringLiteral("preview on at quality 95"));
    Shot(frame, QStringLiteral("11-preview-q95"), Describe(frame));
    Shot(WindowOf(view), QStringLiteral("11-preview-q95-window"), QStringLiteral("the video's window alone"));
    Shot(sel, QStringLiteral("11-preview-q95-selector"), QStringLiteral("status ") + Quoted(sel->StatusText()));

    // The three most detailed frames checked and written.
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, list.CheckBoxRect(i).center());
    Check(sel->CheckedCount() == 3, QStringLiteral("three frames checked"));
    Shot(sel, QStringLiteral("12-checked-selector"),
         QStringLiteral("%1 checked, status %2").arg(sel->CheckedCount()).arg(Quoted(sel->StatusText())));
    // A click on the plot shows that frame; a bigger dialog gives the plot and the list the room.
    ScorePlot* plot = sel->Plot();
    const int target = frameCount / 2;
    QTest::mouseClick(plot, Qt::LeftButton, Qt::NoModifier, QPoint(plot->XOf(target), plot->PlotArea().center().y()));
    Settle(50);
    Check(view->m_currentFrame == target, QStringLiteral("a click on the plot showed frame %1").arg(target));
    sel->resize(sel->width() + 240, sel->height() + 200);
    Settle(100);
    Shot(sel, QStringLiteral("12-resized-selector"),
         QStringLiteral("list %1x%2, plot %3x%4")
             .arg(list.width())
             .arg(list.height())
             .arg(plot->width())
             .arg(plot->height()));
    AnswerFileDialog(QStringLiteral("13-export-dialog"), g_work + QStringLiteral("/checked.avi"));
    QTest::mouseClick(sel->CreateButton(), Qt::LeftButton);
    Settle(200);
    Check(QFileInfo::exists(g_work + QStringLiteral("/checked.avi")), QStringLiteral("checked.avi written"));
    Shot(frame, QStringLiteral("14-exported"), Describe(frame));

    AnswerFileDialog(QStringLiteral("15-bmp-dialog"), g_work + QStringLiteral("/frame.bmp"));
    QTest::mouseClick(sel->SaveButton(), Qt::LeftButton);
    Settle(200);
    Check(QFileInfo::exists(g_work + QStringLiteral("/frame.bmp")), QStringLiteral("frame.bmp written"));
    Shot(sel, QStringLiteral("15-bmp-saved-selector"), QStringLiteral("status ") + Quoted(sel->StatusText()));

    // Back to the plain picture before leaving, as "View" unchecked gives it.
    QTest::mouseClick(&sel->ViewButton(), Qt::LeftButton);
    Check(view->m_previewOn == 0, QStringLiteral("View unchecked ends the preview"));
    QTest::mouseClick(sel->CloseButton(), Qt::LeftButton);
}

}  // namespace

int main(int argc, char** argv) {
    QStringList clips;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QLatin1String("--out") && i + 1 < argc)
            g_out = QString::fromLocal8Bit(argv[++i]);
        else if (arg == QLatin1String("--work") && i + 1 < argc)
            g_work = QString::fromLocal8Bit(argv[++i]);
        else if (arg == QLatin1String("--large") && i + 1 < argc)
            g_large = QFileInfo(QString::fromLocal8Bit(argv[++i])).absoluteFilePath();
        else
            clips << arg;
    }
    if (g_out.isEmpty() || g_work.isEmpty() || clips.size() != 4) {
        std::fprintf(
            stderr,
            "usage: tessaron_walkthrough --out DIR --work DIR [--large CLIP] CLIP_A CLIP_B CLIP_C NOT_A_VIDEO\n");
        return 2;
    }
    for (QString& clip : clips) clip = QFileInfo(clip).absoluteFilePath();
    g_out = QDir(g_out).absolutePath();
    g_work = QDir(g_work).absolutePath();
    QDir().mkpath(g_out);
    QDir().mkpath(g_work);
    // The settings file and the recent files go to the work folder, never the user's.
    QDir::setCurrent(g_work);
    qputenv("XDG_CONFIG_HOME", (g_work + QStringLiteral("/config")).toLocal8Bit());
    // The toolkit's own file dialog, the same on every desktop, so it can be typed into.
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);

    // 1. Started with a video named on the command line.
    std::vector<QByteArray> words{QByteArrayLiteral("tessaron"), clips[0].toLocal8Bit()};
    std::vector<char*> wordPointers{words[0].data(), words[1].data(), nullptr};
    int wordCount = 2;
    CTessaronApp app(wordCount, wordPointers.data());
    if (!app.InitInstance()) {
        std::fprintf(stderr, "FAILED: the program did not start\n");
        return 1;
    }
    CMainFrame* frame = app.MainFrame();
    Check(QTest::qWaitForWindowExposed(frame), QStringLiteral("main window shown"));
    frame->activateWindow();
    WatchForStrayDialogs();
    Settle(300);
    Check(frame->MdiArea()->subWindowList().size() == 1, QStringLiteral("the command line's video opened"));
    Shot(frame, QStringLiteral("01-command-line"), Describe(frame));
    QList<CDocument*> docs = app.DocTemplate()->GetDocuments();
    CTessaronView* viewA = docs.isEmpty() ? nullptr : ViewOf(docs.first());
    if (!viewA) {
        std::fprintf(stderr, "FAILED: no view for %s\n", qPrintable(clips[0]));
        return g_failures + 1;
    }
    const int frameCount = static_cast<int>(viewA->m_frameOrder.size());
    QMdiSubWindow* windowA = WindowOf(viewA);

    // 2. File > Open.
    AnswerFileDialog(QStringLiteral("02-file-open-dialog"), clips[1]);
    frame->Action(ID_FILE_OPEN)->trigger();
    Settle(300);
    Check(frame->MdiArea()->subWindowList().size() == 2, QStringLiteral("File > Open opened the second video"));
    Shot(frame, QStringLiteral("03-opened-by-menu"), Describe(frame));

    // 3. A file dropped on the main window.
    {
        auto* mime = new QMimeData;
        mime->setUrls({QUrl::fromLocalFile(clips[2])});
        const QPointF at(frame->width() / 2.0, frame->height() / 2.0);
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(frame, &enter);
        Check(enter.isAccepted(), QStringLiteral("the main window takes a dragged file"));
        QDropEvent drop(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(frame, &drop);
        Settle(400);
        delete mime;
    }
    Check(frame->MdiArea()->subWindowList().size() == 3, QStringLiteral("the dropped video opened"));
    Shot(frame, QStringLiteral("04-dropped"), Describe(frame));
    frame->Action(ID_WINDOW_CASCADE)->trigger();
    Shot(frame, QStringLiteral("05-cascaded"), Describe(frame));

    // The other two closed with File > Close, so the rest works on the first video alone.
    for (QMdiSubWindow* sub : frame->MdiArea()->subWindowList()) {
        if (sub == windowA) continue;
        frame->MdiArea()->setActiveSubWindow(sub);
        frame->Action(ID_FILE_CLOSE)->trigger();
        Settle(100);
    }
    frame->MdiArea()->setActiveSubWindow(windowA);
    Settle(100);
    Check(frame->MdiArea()->subWindowList().size() == 1, QStringLiteral("File > Close closed two windows"));

    // 4. The frame selector.
    WhenShown<SelectVideoFrames>([&](SelectVideoFrames* sel) { SelectorSteps(frame, viewA, sel, frameCount); });
    frame->Action(ID_FRAME_SELECTOR)->trigger();
    Settle(200);
    Shot(frame, QStringLiteral("16-selector-closed"), Describe(frame));
    // Opened again: the checks and the sorted order are still there; closing it with the preview on
    // ends the preview.
    WhenShown<SelectVideoFrames>([&](SelectVideoFrames* sel) {
        Check(sel->CheckedCount() == 3 &&
                  sel->windowTitle() == QStringLiteral("Video Frame Selector - Sorted by 'JPEG size'."),
              QStringLiteral("reopened: three frames still checked, in sorted order"));
        QTest::mouseClick(&sel->ViewButton(), Qt::LeftButton);
        Check(viewA->m_previewOn == 1, QStringLiteral("View switched the preview on"));
        Shot(sel, QStringLiteral("16-reopened-selector"),
             QStringLiteral("%1 checked, caption %2").arg(sel->CheckedCount()).arg(Quoted(sel->windowTitle())));
        QTest::mouseClick(sel->CloseButton(), Qt::LeftButton);
    });
    frame->Action(ID_FRAME_SELECTOR)->trigger();
    Settle(100);
    Check(viewA->m_previewOn == 0, QStringLiteral("closing the selector ended the preview"));

    // 5. Stepping with the keys and Go to Frame, then Fit to Window and back to 100 %.
    {
        frame->activateWindow();
        Settle(50);
        viewA->setFocus();
        for (int key : {Qt::Key_Home, Qt::Key_Right, Qt::Key_Right, Qt::Key_Right, Qt::Key_PageDown, Qt::Key_Left}) {
            QTest::keyClick(viewA, Qt::Key(key));
            Settle(20);
        }
        Check(viewA->m_currentFrame == std::min(12, frameCount - 1), QStringLiteral("the keys stepped to frame 12"));
        Shot(frame, QStringLiteral("16a-stepped-keys"),
             Describe(frame) + QStringLiteral(", frame pane ") + Quoted(mainStatusBar->FrameText()));
        Check(viewA->SeekSlider()->value() == viewA->m_currentFrame, QStringLiteral("the slider follows the keys"));
        // The slider clicked near its right end: the frame there shows.
        QSlider* slider = viewA->SeekSlider();
        QTest::mouseClick(slider, Qt::LeftButton, Qt::NoModifier, QPoint(slider->width() - 4, slider->height() / 2));
        Settle(100);
        Check(viewA->m_currentFrame == slider->value() && slider->value() > 12, QStringLiteral("the slider moved on"));
        Shot(frame, QStringLiteral("16c-slider"), QStringLiteral("slider label ") + Quoted(viewA->SeekLabel()->text()));
        WhenShown<GoToFrameDialog>([](GoToFrameDialog* go) {
            go->Field()->setText(QStringLiteral("5"));
            QTest::keyClick(go->Field(), Qt::Key_Return);
        });
        QTest::keyClick(viewA, Qt::Key_G, Qt::ControlModifier);
        Settle(100);
        Check(viewA->m_currentFrame == 5, QStringLiteral("Go to Frame (Ctrl+G) showed frame 5"));
        frame->activateWindow();  // back from the dialog
        Settle(50);
        QTest::keyClick(viewA, Qt::Key_0, Qt::ControlModifier);
        Settle(100);
        Check(viewA->m_fit == 1, QStringLiteral("Ctrl+0 fits the frame to its window"));
        Shot(frame, QStringLiteral("16b-fitted"), QStringLiteral("frame pane ") + Quoted(mainStatusBar->FrameText()));
        QTest::keyClick(viewA, Qt::Key_1, Qt::ControlModifier);
        Settle(100);
        Check(viewA->m_fit == 0 && viewA->m_zoom == 1.0, QStringLiteral("Ctrl+1 shows the frame at 100 %"));
        viewA->StepTo(0);
    }

    // 6. A box dragged over the picture and cut out of every frame.
    {
        QWidget* port = viewA->viewport();
        const QSize size = port->size();
        const QPoint from(size.width() * 2 / 3, size.height() * 3 / 4), to(size.width() / 4, size.height() / 5);
        QTest::mousePress(port, Qt::LeftButton, Qt::NoModifier, from);
        for (int step = 1; step <= 4; ++step) {
            QTest::mouseMove(port, from + (to - from) * step / 4);
            Settle(20);
        }
        QTest::mouseRelease(port, Qt::LeftButton, Qt::NoModifier, to);
    }
    Check(StatusText().startsWith(QStringLiteral("Box Corner Points:")),
          QStringLiteral("the box shows in the status bar"));
    Shot(frame, QStringLiteral("17-crop-box"), Describe(frame));
    AnswerFileDialog(QStringLiteral("18-crop-dialog"), g_work + QStringLiteral("/crop.avi"));
    QPointer<QTimer> midCrop = ShootMidLoop(frame, frameCount, QStringLiteral("19-cropping"));
    frame->Action(ID_CROP_AND_SAVE)->trigger();
    EndMidLoop(midCrop, QStringLiteral("19-cropping"));
    Settle(200);
    Check(QFileInfo::exists(g_work + QStringLiteral("/crop.avi")), QStringLiteral("crop.avi written"));
    Shot(frame, QStringLiteral("20-cropped"), Describe(frame));

    // 7. Preferences: the box ticked and Cancel (nothing changes), then ticked and OK.
    for (bool ok : {false, true}) {
        WhenShown<Preferences>([ok](Preferences* prefs) {
            auto* box = prefs->findChild<QCheckBox*>(QStringLiteral("IDC_DEINTERLACE"));
            Check(box != nullptr, QStringLiteral("the Deinterlace box"));
            if (ok) Shot(prefs, QStringLiteral("21-preferences"), Quoted(prefs->windowTitle()));
            if (box) QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, QPoint(6, box->height() / 2));
            if (ok)
                Shot(prefs, QStringLiteral("22-preferences-ticked"), box && box->isChecked() ? "ticked" : "NOT ticked");
            auto* button = prefs->findChild<QPushButton*>(ok ? QStringLiteral("IDOK") : QStringLiteral("IDCANCEL"));
            if (button) QTest::mouseClick(button, Qt::LeftButton);
        });
        frame->Action(ID_PREFERENCES)->trigger();
        Settle(200);
        Check(deinterlaceEnabled == (ok ? 1 : 0),
              ok ? QStringLiteral("OK stores the change") : QStringLiteral("Cancel discards the change"));
    }
    Shot(frame, QStringLiteral("23-deinterlaced"), Describe(frame));

    // 8. About and Help.
    WhenShown<AboutBox>([](AboutBox* about) {
        Shot(about, QStringLiteral("24-about"), Quoted(about->windowTitle()));
        if (auto* ok = about->findChild<QPushButton*>(QStringLiteral("IDOK"))) QTest::mouseClick(ok, Qt::LeftButton);
    });
    frame->Action(ID_APP_ABOUT)->trigger();
    Settle(100);
    frame->Action(ID_HELP_FINDER)->trigger();
    Settle(300);
    QWidget* help = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QLatin1String("HelpWindow") && w->isVisible()) help = w;
    }
    Check(help != nullptr, QStringLiteral("Help > Help Topics shows the help"));
    if (help) {
        Check(QTest::qWaitForWindowExposed(help), QStringLiteral("help shown"));
        Shot(help, QStringLiteral("25-help"), Quoted(help->windowTitle()));
        help->close();
    }
    frame->Action(ID_HELP_KEYS)->trigger();
    Settle(300);
    if (QWidget* keys = app.Shortcuts(); keys && keys->isVisible()) {
        keys->resize(keys->width(), 720);
        Shot(keys, QStringLiteral("25a-keyboard-shortcuts"), Quoted(keys->windowTitle()));
        keys->close();
    } else {
        Check(false, QStringLiteral("Help > Keyboard Shortcuts shows the keys"));
    }

    // 9. A file that is no video, through File > Open: refused with a message, nothing else changes.
    AnswerFileDialog(QStringLiteral("26-open-bad-dialog"), clips[3]);
    WhenShown<QMessageBox>([](QMessageBox* box) {
        Shot(box, QStringLiteral("27-bad-file-message"),
             Quoted(box->windowTitle()) + QLatin1Char(' ') + Quoted(box->text()));
        box->accept();
    });
    frame->Action(ID_FILE_OPEN)->trigger();
    Settle(300);
    Check(frame->MdiArea()->subWindowList().size() == 1, QStringLiteral("the bad file got no window"));
    Shot(frame, QStringLiteral("28-after-bad-file"), Describe(frame));

    // 10. The large video, fitted into its window as it opens.
    if (!g_large.isEmpty()) {
        CDocument* large = app.OpenDocumentFile(g_large);
        CTessaronView* view = ViewOf(large);
        Check(view != nullptr, QStringLiteral("the large video opened"));
        if (view) {
            WindowOf(view)->showMaximized();
            Settle(300);
            view->FitToWindow();
            Settle(300);
            Check(view->m_fit == 1 && view->m_zoom < 1.0, QStringLiteral("the large video is fitted"));
            Shot(frame, QStringLiteral("29-large-fitted"),
                 Describe(frame) + QStringLiteral(", frame pane ") + Quoted(mainStatusBar->FrameText()));
        }
    }

    // 11. File > Exit.
    frame->Action(ID_APP_EXIT)->trigger();
    Settle(200);
    Check(!frame->isVisible(), QStringLiteral("File > Exit closed the main window"));
    std::printf("%d check(s) failed\n", g_failures);
    return g_failures;
}
