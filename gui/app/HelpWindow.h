// Help > Help Topics: a window with the short user guide.
#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QWidget>

class QTextBrowser;

class HelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget* parent = nullptr);

    QTextBrowser* Browser() const { return m_browser; }

private:
    QTextBrowser* m_browser;
};

class CMainFrame;

// Every key the program takes, as (keys, what they do): the menus' and accelerators' keys as the main
// window's actions carry them, then the keys of the video window, its slider, the frame selector and
// long operations.
QList<QPair<QString, QString>> KeyboardShortcuts(const CMainFrame* frame);

// Help > Keyboard Shortcuts: a window with that list as a table.
class ShortcutsWindow : public QWidget {
    Q_OBJECT
public:
    explicit ShortcutsWindow(const CMainFrame* frame, QWidget* parent = nullptr);

    QTextBrowser* Browser() const { return m_browser; }

private:
    QTextBrowser* m_browser;
};
