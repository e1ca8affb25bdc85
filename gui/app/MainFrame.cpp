#include "app/MainFrame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDockWidget>
#include <QStackedWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QUrl>
#include <QWhatsThis>
#include <QWindow>

#include "fileio/IniFile.h"
#include "framework/ChildFrame.h"
#include "framework/Framework.h"
#include "framework/DocTemplate.h"
#include "framework/Document.h"
#include "framework/ScrollView.h"
#include "app/TessaronApp.h"
#include "dialogs/SelectVideoFrames.h"
#include "view/CTessaronView.h"

namespace {

// Modifier bits of the native key state (X11 and xkb): Lock is Caps Lock, Mod2 is Num Lock.
constexpr quint32 kNativeLockMask = 0x02;
constexpr quint32 kNativeMod2Mask = 0x10;

// Local files among dragged data.
QStringList LocalFiles(const QMimeData* data) {
    QStringList files;
    if (!data || !data->hasUrls()) return files;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) files << url.toLocalFile();
    }
    return files;
}

const char* const kDockStateKey = "windowState";

// The selector's dock: its close box closes the selector shown in it, as the selector's own Close does.
class ToolDockWidget : public QDockWidget {
public:
    ToolDockWidget(const QString& title, QWidget* parent) : QDockWidget(title, parent) {}
    QStackedWidget* stack = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override {
        if (auto* tool = stack ? qobject_cast<QDialog*>(stack->currentWidget()) : nullptr; tool && tool->isVisible())
            tool->reject();
        QDockWidget::closeEvent(event);
    }
};

}  // namespace

CMainFrame::CMainFrame() { setWindowTitle(QStringLiteral("Tessaron")); }

CMainFrame::~CMainFrame() {
    SetToolHost({});
    if (qApp) qApp->removeEventFilter(this);
    if (mainStatusBar == m_wndStatusBar) mainStatusBar = nullptr;
}

bool CMainFrame::Create() {
    PreCreateWindow();
    if (OnCreate() != 0) return false;
    return true;
}

void CMainFrame::PreCreateWindow() {
    move(50, 50);
    resize(750, 650);
}

int CMainFrame::OnCreate() {
    m_mdiArea = new QMdiArea(this);
    m_mdiArea->setObjectName(QStringLiteral("MdiClient"));
    m_mdiArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_mdiArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(m_mdiArea);

    BuildMenus();
    BuildAccelerators();

    m_wndToolBar = new QToolBar(QStringLiteral("Standard"), this);
    m_wndToolBar->setObjectName(QStringLiteral("ToolBar59392"));
    m_wndToolBar->setIconSize(QSize(16, 15));
    m_wndToolBar->setMovable(true);
    m_wndToolBar->setAllowedAreas(Qt::AllToolBarAreas);
    m_wndToolBar->addAction(Action(ID_FILE_OPEN));
    m_wndToolBar->addSeparator();
    m_wndToolBar->addAction(Action(ID_APP_ABOUT));
    addToolBar(Qt::TopToolBarArea, m_wndToolBar);

    m_wndStatusBar = new CStatusBar(this);
    setStatusBar(m_wndStatusBar);

    connect(m_wndToolBar, &QToolBar::visibilityChanged, Action(ID_VIEW_TOOLBAR), &QAction::setChecked);
    connect(m_mdiArea, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow* sub) {
        if (sub) connect(sub, &QWidget::windowTitleChanged, this, &CMainFrame::UpdateFrameTitle, Qt::UniqueConnection);
        UpdateFrameTitle();
        UpdateMenus();
        FollowActiveWindow();
    });
    if (qApp) qApp->installEventFilter(this);

    auto* dock = new ToolDockWidget(QStringLiteral("Video Frame Selector"), this);
    dock->setObjectName(QStringLiteral("FrameSelectorDock"));
    dock->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    dock->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable |
                      QDockWidget::DockWidgetFloatable);
    m_toolStack = new QStackedWidget(dock);
    dock->stack = m_toolStack;
    dock->setWidget(m_toolStack);
    addDockWidget(Qt::RightDockWidgetArea, dock);
    dock->hide();
    m_toolDock = dock;
    // A closed video takes its selector with it; an empty dock goes too.
    connect(m_toolStack, &QStackedWidget::widgetRemoved, this, [this] {
        if (m_toolStack->count() == 0 || !m_toolStack->currentWidget() || !m_toolStack->currentWidget()->isVisible())
            m_toolDock->hide();
    });
    SetToolHost([this](QDialog* tool) { ShowTool(tool); });

    mainStatusBar = m_wndStatusBar;
    UpdateMenus();
    return 0;
}

QAction* CMainFrame::MakeShowHideAction(int id, const QString& text, const QString& statusTip,
                                        const std::function<QWidget*()>& bar) {
    QAction* action = MakeAction(id, text, statusTip);
    action->setCheckable(true);
    action->setChecked(true);
    connect(action, &QAction::toggled, this, [bar](bool on) {
        if (QWidget* widget = bar()) widget->setVisible(on);
    });
    return action;
}

QAction* CMainFrame::MakeAction(int id, const QString& text, const QString& statusTip) {
    auto* action = new QAction(text, this);
    action->setData(id);
    action->setObjectName(QStringLiteral("ID_%1").arg(id));
    action->setStatusTip(statusTip);
    // Shortcuts work whichever menu is showing.
    addAction(action);
    m_actions.insert(id, action);
    return action;
}

void CMainFrame::BuildMenus() {
    CTessaronApp* app = TheApp();

    QAction* open = MakeAction(ID_FILE_OPEN, QStringLiteral("&Open...\tCtrl+O"),
                               QStringLiteral("Open an existing document"));
    open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    open->setIcon(QIcon(QStringLiteral(":/toolbar/open.xpm")));
    open->setToolTip(QStringLiteral("Open"));
    connect(open, &QAction::triggered, this, [app] {
        if (app) app->OnFileOpen();
    });

    QAction* close = MakeAction(ID_FILE_CLOSE, QStringLiteral("&Close"), QStringLiteral("Close the active document"));
    connect(close, &QAction::triggered, this, [this, app] {
        if (CDocument* doc = GetActiveDocument(); doc && app) app->DocTemplate()->CloseDocument(doc);
    });

    QAction* prefs = MakeAction(ID_PREFERENCES, QStringLiteral("Preferences..."));
    connect(prefs, &QAction::triggered, this, [app] {
        if (app) app->ShowPreferences();
    });

    QAction* recent = MakeAction(ID_FILE_MRU_FILE1, QStringLiteral("Recent File"),
                                 QStringLiteral("Open this document"));
    recent->setEnabled(false);

    QAction* exitAction = MakeAction(ID_APP_EXIT, QStringLiteral("E&xit"),
                                     QStringLiteral("Quit the application; prompts to save documents"));
    connect(exitAction, &QAction::triggered, this, &QWidget::close);

    QAction* crop = MakeAction(ID_CROP_AND_SAVE, QStringLiteral("Crop and Save"));
    // The menu's text stays as it is; the shortcut shows beside it.
    QAction* selector = MakeAction(ID_FRAME_SELECTOR, QStringLiteral("Frame Selector..."));
    selector->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    QAction* goTo = MakeAction(ID_GO_TO_FRAME, QStringLiteral("&Go to Frame...\tCtrl+G"),
                               QStringLiteral("Show the frame of a number or a time"));
    goTo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    QAction* cropBox = MakeAction(ID_CROP_BOX, QStringLiteral("Crop &Box...\tCtrl+B"),
                                  QStringLiteral("Type the crop box's place and size in frame pixels"));
    cropBox->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    QAction* zoomFit = MakeAction(ID_ZOOM_FIT, QStringLiteral("&Fit to Window\tCtrl+0"),
                                  QStringLiteral("Show the whole frame in the window"));
    zoomFit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    QAction* zoomActual = MakeAction(ID_ZOOM_ACTUAL, QStringLiteral("&Actual Size (100 %)\tCtrl+1"),
                                     QStringLiteral("One screen pixel per frame pixel"));
    zoomActual->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_1));
    QAction* zoomIn = MakeAction(ID_ZOOM_IN, QStringLiteral("Zoom &In\tCtrl++"), QStringLiteral("Enlarge the frame"));
    zoomIn->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    QAction* zoomOut = MakeAction(ID_ZOOM_OUT, QStringLiteral("Zoom &Out\tCtrl+-"), QStringLiteral("Reduce the frame"));
    zoomOut->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Minus));
    for (QAction* viewCommand : {crop, selector, goTo, cropBox, zoomFit, zoomActual, zoomIn, zoomOut}) {
        connect(viewCommand, &QAction::triggered, this, [this, viewCommand] {
            if (CScrollView* view = GetActiveView()) view->OnCommand(viewCommand->data().toInt());
        });
    }

    // Bars made later in start-up: the toggles look them up when used.
    QAction* toolbar = MakeShowHideAction(ID_VIEW_TOOLBAR, QStringLiteral("&Toolbar"),
                                          QStringLiteral("Show or hide the toolbar"),
                                          [this]() -> QWidget* { return m_wndToolBar; });
    QAction* statusBarAction = MakeShowHideAction(ID_VIEW_STATUS_BAR, QStringLiteral("&Status Bar"),
                                                  QStringLiteral("Show or hide the status bar"),
                                                  [this]() -> QWidget* { return m_wndStatusBar; });

    QAction* cascade = MakeAction(ID_WINDOW_CASCADE, QStringLiteral("&Cascade"),
                                  QStringLiteral("Arrange windows so they overlap"));
    connect(cascade, &QAction::triggered, this, [this] { m_mdiArea->cascadeSubWindows(); });
    QAction* tile = MakeAction(ID_WINDOW_TILE_HORZ, QStringLiteral("&Tile"),
                               QStringLiteral("Arrange windows as non-overlapping tiles"));
    connect(tile, &QAction::triggered, this, [this] { m_mdiArea->tileSubWindows(); });
    QAction* arrange = MakeAction(ID_WINDOW_ARRANGE, QStringLiteral("&Arrange Icons"),
                                  QStringLiteral("Arrange icons at the bottom of the window"));
    connect(arrange, &QAction::triggered, this, &CMainFrame::ArrangeIcons);

    QAction* helpTopics = MakeAction(ID_HELP_FINDER, QStringLiteral("&Help Topics"),
                                     QStringLiteral("List Help topics"));
    connect(helpTopics, &QAction::triggered, this, [app] {
        if (app) app->OnHelpFinder();
    });
    QAction* keys = MakeAction(ID_HELP_KEYS, QStringLiteral("&Keyboard Shortcuts"),
                               QStringLiteral("List every key the program takes"));
    connect(keys, &QAction::triggered, this, [app] {
        if (app) app->OnHelpKeys();
    });
    QAction* about = MakeAction(ID_APP_ABOUT, QStringLiteral("&About Tessaron..."),
                                QStringLiteral("Display program information, version number and copyright"));
    about->setIcon(QIcon(QStringLiteral(":/toolbar/about.xpm")));
    about->setToolTip(QStringLiteral("About"));
    connect(about, &QAction::triggered, this, [app] {
        if (app) app->ShowAboutBox();
    });

    QMenuBar* bar = menuBar();
    m_fileMenu = bar->addMenu(QStringLiteral("&File"));
    m_fileMenu->addAction(open);
    m_fileMenu->addAction(close);
    m_fileMenu->addSeparator();
    m_fileMenu->addAction(prefs);
    m_fileMenu->addSeparator();
    m_fileMenu->addAction(recent);
    m_recentSeparator = m_fileMenu->addSeparator();
    m_fileMenu->addAction(exitAction);

    m_toolsMenu = bar->addMenu(QStringLiteral("Tools"));
    m_toolsMenu->addAction(crop);
    m_toolsMenu->addSeparator();
    m_toolsMenu->addAction(selector);
    m_toolsMenu->addSeparator();
    m_toolsMenu->addAction(goTo);
    m_toolsMenu->addAction(cropBox);

    m_viewMenu = bar->addMenu(QStringLiteral("&View"));
    m_viewMenu->addAction(toolbar);
    m_viewMenu->addAction(statusBarAction);

    m_zoomMenu = bar->addMenu(QStringLiteral("&Zoom"));
    m_zoomMenu->addAction(zoomFit);
    m_zoomMenu->addAction(zoomActual);
    m_zoomMenu->addSeparator();
    m_zoomMenu->addAction(zoomIn);
    m_zoomMenu->addAction(zoomOut);

    m_windowMenu = bar->addMenu(QStringLiteral("&Window"));
    m_windowMenu->addAction(cascade);
    m_windowMenu->addAction(tile);
    m_windowMenu->addAction(arrange);

    m_helpMenu = bar->addMenu(QStringLiteral("&Help"));
    m_helpMenu->addAction(helpTopics);
    m_helpMenu->addAction(keys);
    m_helpMenu->addSeparator();
    m_helpMenu->addAction(about);

    if (app) UpdateRecentFileMenu(app->RecentFiles());
}

void CMainFrame::BuildAccelerators() {
    CTessaronApp* app = TheApp();
    QAction* newDoc = MakeAction(ID_FILE_NEW, QStringLiteral("&New"), QStringLiteral("Create a new document"));
    newDoc->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    connect(newDoc, &QAction::triggered, this, [app] {
        if (app) app->OnFileNew();
    });

    // The video file is never written: saving stays disabled.
    QAction* save = MakeAction(ID_FILE_SAVE, QStringLiteral("&Save"));
    save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    save->setEnabled(false);

    QAction* print = MakeAction(ID_FILE_PRINT, QStringLiteral("&Print..."),
                                QStringLiteral("Print the active document"));
    print->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    connect(print, &QAction::triggered, this, &CMainFrame::OnFilePrint);

    QAction* printSetup = MakeAction(ID_FILE_PRINT_SETUP, QStringLiteral("P&rint Setup..."),
                                     QStringLiteral("Change the printer and printing options"));
    connect(printSetup, &QAction::triggered, this, [app] {
        if (app) app->OnFilePrintSetup();
    });

    // Editing commands have no handler in this program: their keys are known but inactive.
    struct Inactive {
        int id;
        const char* text;
        QKeySequence first, second;
    };
    const Inactive inactive[] = {
        {ID_EDIT_UNDO, "&Undo", QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::ALT | Qt::Key_Backspace)},
        {ID_EDIT_CUT, "Cu&t", QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::SHIFT | Qt::Key_Delete)},
        {ID_EDIT_COPY, "&Copy", QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert)},
        {ID_EDIT_PASTE, "&Paste", QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)},
    };
    for (const Inactive& item : inactive) {
        QAction* action = MakeAction(item.id, QString::fromLatin1(item.text));
        action->setShortcuts({item.first, item.second});
        action->setEnabled(false);
    }

    QAction* next = MakeAction(ID_NEXT_PANE, QStringLiteral("Next Window"));
    next->setShortcut(QKeySequence(Qt::Key_F6));
    connect(next, &QAction::triggered, this, [this] { m_mdiArea->activateNextSubWindow(); });
    QAction* previous = MakeAction(ID_PREV_PANE, QStringLiteral("Previous Window"));
    previous->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6));
    connect(previous, &QAction::triggered, this, [this] { m_mdiArea->activatePreviousSubWindow(); });

    QAction* contextHelp = MakeAction(ID_CONTEXT_HELP, QStringLiteral("What's This?"));
    contextHelp->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F1));
    connect(contextHelp, &QAction::triggered, this, [] { QWhatsThis::enterWhatsThisMode(); });
    QAction* help = MakeAction(ID_HELP, QStringLiteral("Help"));
    help->setShortcut(QKeySequence(Qt::Key_F1));
    connect(help, &QAction::triggered, this, [app] {
        if (app) app->OnHelpFinder();
    });
}

void CMainFrame::UpdateRecentFileMenu(const QStringList& files) {
    if (!m_fileMenu) return;
    for (QAction* a : m_recentActions) {
        m_fileMenu->removeAction(a);
        delete a;
    }
    m_recentActions.clear();
    QAction* placeholder = Action(ID_FILE_MRU_FILE1);
    placeholder->setVisible(files.isEmpty());
    CTessaronApp* app = TheApp();
    for (int i = 0; i < files.size() && i < CTessaronApp::kRecentFileCount; ++i) {
        QString shown = files[i];
        shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
        auto* action = new QAction(QStringLiteral("&%1 %2").arg(i + 1).arg(shown), this);
        action->setData(ID_FILE_MRU_FILE1 + i);
        action->setStatusTip(QStringLiteral("Open this document"));
        connect(action, &QAction::triggered, this, [app, i] {
            if (app) app->OpenRecentFile(i);
        });
        m_fileMenu->insertAction(m_recentSeparator, action);
        m_recentActions.append(action);
    }
}

void CMainFrame::UpdateMenus() {
    CTessaronApp* app = TheApp();
    bool document = app && app->DocTemplate() && !app->DocTemplate()->GetDocuments().isEmpty();
    m_documentMenu = document;
    if (m_toolsMenu) m_toolsMenu->menuAction()->setVisible(document);
    if (m_windowMenu) m_windowMenu->menuAction()->setVisible(document);
    if (m_zoomMenu) m_zoomMenu->menuAction()->setVisible(document);
    if (QAction* a = Action(ID_FILE_CLOSE)) a->setEnabled(document);
    if (QAction* a = Action(ID_FILE_PRINT)) a->setEnabled(document);
    // The video commands need a video: a new, empty document has none.
    CScrollView* view = GetActiveView();
    for (int id : {ID_CROP_AND_SAVE, ID_FRAME_SELECTOR, ID_GO_TO_FRAME, ID_CROP_BOX, ID_ZOOM_FIT, ID_ZOOM_ACTUAL,
                   ID_ZOOM_IN, ID_ZOOM_OUT}) {
        if (QAction* a = Action(id)) a->setEnabled(document && view && view->IsCommandEnabled(id));
    }
    UpdateFrameTitle();
}

void CMainFrame::WaitUntilFramed() {
    QWindow* window = windowHandle();
    if (!window) return;
    QDeadlineTimer deadline(1000);
    while (!window->isExposed() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QCoreApplication::processEvents();
}

void CMainFrame::UpdateFrameTitle() {
    QString title = QStringLiteral("Tessaron");
    if (m_documentMenu && m_mdiArea) {
        if (QMdiSubWindow* sub = m_mdiArea->currentSubWindow(); sub && !sub->windowTitle().isEmpty())
            title += QStringLiteral(" - ") + sub->windowTitle();
    }
    setWindowTitle(title);
}

CScrollView* CMainFrame::GetActiveView() const {
    if (!m_mdiArea || !m_documentMenu) return nullptr;
    auto* frame = qobject_cast<CChildFrame*>(m_mdiArea->currentSubWindow());
    return frame ? frame->GetActiveView() : nullptr;
}

CDocument* CMainFrame::GetActiveDocument() const {
    CScrollView* view = GetActiveView();
    return view ? view->GetDocument() : nullptr;
}

void CMainFrame::ArrangeIcons() {
    // Minimised windows in a row along the bottom of the MDI area.
    QRect area = m_mdiArea->viewport()->rect();
    int x = 0;
    int y = area.bottom() + 1;
    for (QMdiSubWindow* sub : m_mdiArea->subWindowList()) {
        if (!sub->isMinimized()) continue;
        QSize s = sub->size();
        if (x > 0 && x + s.width() > area.width()) {
            x = 0;
            y -= s.height();
        }
        sub->move(x, y - s.height());
        x += s.width();
    }
}

void CMainFrame::OnFilePrint() {
    if (CScrollView* view = GetActiveView()) view->OnFilePrint();
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (!LocalFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void CMainFrame::dropEvent(QDropEvent* event) {
    QStringList files = LocalFiles(event->mimeData());
    if (files.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    activateWindow();
    // Opened after the drop has finished, so the drag source is not kept waiting by a message box.
    QMetaObject::invokeMethod(
        this,
        [files] {
            for (const QString& file : files) {
                if (CTessaronApp* app = TheApp()) app->OpenDocumentFile(file);
            }
        },
        Qt::QueuedConnection);
}

void CMainFrame::ShowTool(QDialog* tool) {
    if (!tool || !m_toolStack) return;
    if (m_toolStack->indexOf(tool) < 0) {
        m_toolStack->addWidget(tool);  // a widget of the dock from now on, no window of its own
        // Closed (its Close button, Escape, the dock's close box): the dock goes with it.
        connect(tool, &QDialog::finished, this, [this, tool] {
            if (m_toolStack->currentWidget() == tool) m_toolDock->hide();
        });
        // The dock's caption is the selector's: it names the order the list shows.
        connect(tool, &QWidget::windowTitleChanged, this, [this, tool](const QString& title) {
            if (m_toolStack->currentWidget() == tool) m_toolDock->setWindowTitle(title);
        });
    }
    auto* before = qobject_cast<QDialog*>(m_toolStack->currentWidget());
    m_toolStack->setCurrentWidget(tool);
    // The selector of another video window was showing: it is closed as if the user had closed it.
    if (before && before != tool) before->done(QDialog::Rejected);
    tool->show();  // an opening: the selector initialises itself
    m_toolDock->setWindowTitle(tool->windowTitle());
    m_toolDock->show();
    m_toolDock->raise();
}

void CMainFrame::FollowActiveWindow() {
    if (!m_toolDock || !m_toolDock->isVisible()) return;
    auto* view = qobject_cast<CTessaronView*>(GetActiveView());
    // The active window's selector is the one showing already, or the window has no video to select from.
    if (!view || !view->m_pSelector || view->m_pSelector == m_toolStack->currentWidget()) return;
    if (view->IsCommandEnabled(ID_FRAME_SELECTOR)) view->OnCommand(ID_FRAME_SELECTOR);
}

void CMainFrame::SaveDockState(const std::string& iniPath) const {
    if (iniPath.empty()) return;
    IniWriteString(iniPath, kIniSection, kDockStateKey, saveState().toBase64().toStdString());
}

void CMainFrame::RestoreDockState(const std::string& iniPath) {
    if (iniPath.empty()) return;
    const std::string text = IniReadString(iniPath, kIniSection, kDockStateKey, "", 8192);
    if (!text.empty()) restoreState(QByteArray::fromBase64(QByteArray::fromStdString(text)));
    // The place is taken; the dock itself shows when a selector opens.
    if (m_toolDock) m_toolDock->hide();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (CTessaronApp* app = TheApp()) SaveDockState(app->IniPath().toStdString());
    if (CTessaronApp* app = TheApp(); app && app->DocTemplate()) app->DocTemplate()->CloseAllDocuments();
    event->accept();
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    if ((event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) && m_wndStatusBar) {
        auto* key = static_cast<QKeyEvent*>(event);
        QString platform = QGuiApplication::platformName();
        if (key->type() == QEvent::KeyPress && key->key() == Qt::Key_ScrollLock && !key->isAutoRepeat())
            m_scrollLock = !m_scrollLock;
        bool caps = m_wndStatusBar->IndicatorOn(1), num = m_wndStatusBar->IndicatorOn(2);
        if (platform == QLatin1String("xcb") || platform.startsWith(QLatin1String("wayland"))) {
            // The native state is the one before this key; a lock key's own press toggles it.
            quint32 native = key->nativeModifiers();
            caps = native & kNativeLockMask;
            num = native & kNativeMod2Mask;
            if (key->type() == QEvent::KeyPress && !key->isAutoRepeat()) {
                if (key->key() == Qt::Key_CapsLock) caps = !caps;
                if (key->key() == Qt::Key_NumLock) num = !num;
            }
        }
        m_wndStatusBar->SetIndicators(caps, num, m_scrollLock);
    }
    return QMainWindow::eventFilter(watched, event);
}
