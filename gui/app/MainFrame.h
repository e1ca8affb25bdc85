// The main window: an MDI frame with menus, toolbar and status bar.
#pragma once

#include <QAction>
#include <QMainWindow>
#include <QMap>
#include <QToolBar>
#include <functional>
#include <string>

#include "framework/CommandIds.h"
#include "framework/StatusBar.h"

class QDialog;
class QDockWidget;
class QMdiArea;
class QStackedWidget;
class QMdiSubWindow;
class QMenu;
class QProgressBar;
class CDocument;
class CScrollView;

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
    // After show: lets the window system put its frame around the window (a window manager does so
    // after the window is mapped), so that frameGeometry() is the real one. Waits a second at most.
    void WaitUntilFramed();

    // The dock the frame selector sits in: at the right by default, floatable, its place kept by
    // SaveDockState and RestoreDockState. It shows the selector of the active video window.
    QDockWidget* ToolDock() const { return m_toolDock; }
    // Puts tool (a view's frame selector) into the dock and shows it; the one shown before is closed.
    void ShowTool(QDialog* tool);
    // The dock's and the toolbar's places, to and from the settings file (base64 of saveState).
    void SaveDockState(const std::string& iniPath) const;
    void RestoreDockState(const std::string& iniPath);

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
    // A checked action that shows or hides the widget bar() returns when toggled.
    QAction* MakeShowHideAction(int id, const QString& text, const QString& statusTip,
                                const std::function<QWidget*()>& bar);
    void BuildMenus();
    void BuildAccelerators();
    void ArrangeIcons();
    void OnFilePrint();

    CStatusBar* m_wndStatusBar = nullptr;
    QToolBar* m_wndToolBar = nullptr;
    QMdiArea* m_mdiArea = nullptr;
    QDockWidget* m_toolDock = nullptr;
    QStackedWidget* m_toolStack = nullptr;  // every selector shown so far; the current one is visible
    // The dock follows the active video window: that window's selector is shown in it.
    void FollowActiveWindow();
    QMap<int, QAction*> m_actions;
    QMenu* m_fileMenu = nullptr;
    QMenu* m_toolsMenu = nullptr;
    QMenu* m_viewMenu = nullptr;
    QMenu* m_zoomMenu = nullptr;
    QMenu* m_windowMenu = nullptr;
    QMenu* m_helpMenu = nullptr;
    QAction* m_recentSeparator = nullptr;  // the separator after the recent-file entries
    QList<QAction*> m_recentActions;
    bool m_documentMenu = false;
    bool m_scrollLock = false;
};
