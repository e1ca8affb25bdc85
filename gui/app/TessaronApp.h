// The application object: start-up, the one preference (line interpolation, "deinterlacing"), the
// recent-file list and the commands that belong to the program rather than to a window.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>

#include "doc/CTessaronDoc.h"

class CDocTemplate;
class CDocument;
class CMainFrame;
class HelpWindow;
class ShortcutsWindow;
class QApplication;
class QPrinter;

class CTessaronApp : public QObject {
    Q_OBJECT
public:
    // Uses the running QApplication, or makes one from argc and argv. The command line comes from argv.
    CTessaronApp(int& argc, char** argv);
    ~CTessaronApp() override;

    // The start-up sequence; false ends the program.
    bool InitInstance();
    // The event loop; returns the exit code.
    int Run();

    void ShowPreferences();
    void ShowAboutBox();
    void OnFileNew();
    void OnFileOpen();
    void OnFilePrintSetup();
    void OnHelpFinder();
    // Help > Keyboard Shortcuts.
    void OnHelpKeys();
    // Opens path in its own window; null (and a message) when it cannot be shown.
    CDocument* OpenDocumentFile(const QString& path);
    void OpenRecentFile(int index);

    // Working directory at start-up. A Tessaron.ini found there is taken over once, when there is no
    // settings file of the user's own yet.
    QString startDirectory;
    // The settings file: $XDG_CONFIG_HOME/tessaron/Tessaron.ini (~/.config/tessaron/ by default), the
    // same wherever the program is started from.
    QString IniPath() const;
    static QString ConfigFolder();

    CMainFrame* MainFrame() const { return m_pMainWnd.get(); }
    CDocTemplate* DocTemplate() const { return m_pDocTemplate.get(); }
    QPrinter* Printer();
    HelpWindow* Help() const { return m_help.get(); }
    ShortcutsWindow* Shortcuts() const { return m_shortcuts.get(); }

    const QStringList& RecentFiles() const { return m_recentFiles; }
    void AddToRecentFileList(const QString& path);
    void RemoveFromRecentFileList(const QString& path);
    static constexpr int kRecentFileCount = 4;

    // The filter of File > Open.
    static QString OpenFilter();

private:
    void LoadStdProfileSettings();
    // Reads the preferences from the settings file, importing the working directory's file first when
    // the user has none yet.
    void LoadSettings();
    void SaveRecentFileList() const;

    std::unique_ptr<QApplication> m_ownedApplication;
    QStringList m_arguments;
    std::unique_ptr<CDocTemplate> m_pDocTemplate;
    std::unique_ptr<CMainFrame> m_pMainWnd;
    std::unique_ptr<QPrinter> m_printer;
    std::unique_ptr<HelpWindow> m_help;
    std::unique_ptr<ShortcutsWindow> m_shortcuts;
    QStringList m_recentFiles;
};

// The application object, or null outside its lifetime.
CTessaronApp* TheApp();
