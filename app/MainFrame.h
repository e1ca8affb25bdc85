// The main window: an MDI frame with menus, toolbar and status bar.
#pragma once

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <QMap>
#include <QStatusBar>
#include <QToolBar>

class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QProgressBar;
class CDocument;
class CScrollView;

// Command ids of the menus, toolbar and accelerators; each action carries its id as data.
enum CommandId : int {
    ID_CROP_AND_SAVE = 132,
    ID_FRAME_SELECTOR = 134,
    ID_PREFERENCES = 32776,
    ID_FILE_NEW = 57600,
    ID_FILE_OPEN = 57601,
    ID_FILE_CLOSE = 57602,
    ID_FILE_SAVE = 57603,
    ID_FILE_PRINT_SETUP = 57606,
    ID_FILE_PRINT = 57607,
    ID_FILE_MRU_FILE1 = 57616,
    ID_EDIT_COPY = 57634,
    ID_EDIT_CUT = 57635,
    ID_EDIT_PASTE = 57637,
    ID_EDIT_UNDO = 57643,
    ID_WINDOW_ARRANGE = 57649,
    ID_WINDOW_CASCADE = 57650,
    ID_WINDOW_TILE_HORZ = 57651,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_HELP_FINDER = 57667,
    ID_CONTEXT_HELP = 57669,
    ID_HELP = 57670,
    ID_NEXT_PANE = 57680,
    ID_PREV_PANE = 57681,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
};

// Status bar with a message pane (pane 0) and the CAP, NUM and SCRL key indicators (panes 1 to 3), plus a
// progress bar that long operations show while they run.
class CStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit CStatusBar(QWidget* parent = nullptr);

    // update: repaint at once instead of at the next return to the event loop.
    void SetPaneText(int pane, const QString& text, bool update = true);
    QString GetPaneText(int pane) const;
    // The bar's window text is its message pane.
    void SetWindowText(const QString& text) { SetPaneText(0, text, false); }
    int PaneCount() const { return 4; }

    // Key lock states shown by the indicators (greyed when off).
    void SetIndicators(bool caps, bool num, bool scroll);
    bool IndicatorOn(int pane) const;

    QProgressBar* Progress() const { return m_progress; }

private:
    QLabel* m_panes[4] = {};
    QProgressBar* m_progress = nullptr;
};

// The main frame's status bar, for the views' texts in pane 0; null while there is no main frame.
extern CStatusBar* mainStatusBar;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    CMainFrame();
    ~CMainFrame() override;

    // Creates the window, its bars and menus; false when any part could not be made.
    bool Create();

    QMdiArea* MdiArea() const { return m_mdiArea; }
    // The active child frame's view and document (null when no document window is active).
    CScrollView* GetActiveView() const;
    CDocument* GetActiveDocument() const;

    // The action of a command id (menus, toolbar and accelerators).
    QAction* Action(int id) const { return m_actions.value(id, nullptr); }
    // Menu 128 (no document) or menu 129 (a document window active), by whether any child frame exists.
    void UpdateMenus();
    bool ShowsDocumentMenu() const { return m_documentMenu; }
    // The File menu's recent-file entries.
    void UpdateRecentFileMenu(const QStringList& files);
    // Caption: the program name, then the active document's title.
    void UpdateFrameTitle();

    QToolBar* ToolBar() const { return m_wndToolBar; }
    CStatusBar* StatusBar() const { return m_wndStatusBar; }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void PreCreateWindow();
    int OnCreate();
    QAction* MakeAction(int id, const QString& text, const QString& statusTip = QString());
    void BuildMenus();
    void BuildAccelerators();
    void ArrangeIcons();
    void OnFilePrint();

    CStatusBar* m_wndStatusBar = nullptr;
    QToolBar* m_wndToolBar = nullptr;
    QMdiArea* m_mdiArea = nullptr;
    QMap<int, QAction*> m_actions;
    QMenu* m_fileMenu = nullptr;
    QMenu* m_toolsMenu = nullptr;
    QMenu* m_viewMenu = nullptr;
    QMenu* m_windowMenu = nullptr;
    QMenu* m_helpMenu = nullptr;
    QAction* m_recentSeparator = nullptr;  // the separator after the recent-file entries
    QList<QAction*> m_recentActions;
    bool m_documentMenu = false;
    bool m_scrollLock = false;
};
