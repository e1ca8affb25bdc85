// The one seam between the program and the toolkit's interactive services: message boxes, file dialogs,
// modal dialogs, print dialogs, the wait cursor, the status bar's message pane and its progress bar.
// Everything that would wait for a person goes through here, so tests install a scripted stand-in that
// answers from a queue and records what was asked.
#pragma once

#include <QElapsedTimer>
#include <QSize>
#include <QString>
#include <functional>

class QDialog;
class QPrinter;
class QWidget;

// Message box styles and results. The values are the ones scripts and tests already use for them.
enum MessageBoxStyle : unsigned {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_YESNOCANCEL = 0x3,
    MB_YESNO = 0x4,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
    MB_SETFOREGROUND = 0x10000,
};
enum MessageBoxResult : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

// File dialog flags.
enum FileDialogFlags : unsigned { OFN_OVERWRITEPROMPT = 0x2, OFN_HIDEREADONLY = 0x4 };

struct FileDialogRequest {
    bool save = false;
    QString title;             // empty: the toolkit's default ("Save As" / "Open")
    QString defaultExtension;  // without the dot; appended when the chosen name has none
    QString proposedName;      // file name offered at first
    QString directory;         // folder the dialog starts in (the proposed name's own when empty)
    unsigned flags = 0;        // FileDialogFlags
    QString filter;            // "Description|*.a;*.b|Description|*.*||"
};

// The progress bar's text: "N of M", and the time left once a second has passed ("N of M, 1:05 left").
QString ProgressText(int value, int maximum, qint64 elapsedMs);

// "AVI Files (*.avi)|*.avi|All Files (*.*)|*.*||" as the toolkit's name filters:
// {"AVI Files (*.avi)", "All Files (*)"}. "*.*" means every file.
QStringList NameFiltersFromFilterString(const QString& filter);

class Framework {
public:
    virtual ~Framework();

    // Modal; returns the button pressed (MessageBoxResult). owner may be null.
    virtual int MessageBox(QWidget* owner, const QString& text, const QString& caption, unsigned style) = 0;
    // True with the chosen path, false when cancelled.
    virtual bool FileDialog(QWidget* owner, const FileDialogRequest& request, QString* chosenPath) = 0;
    // Runs dialog modally and returns its result code (QDialog::Accepted or QDialog::Rejected).
    virtual int DoModal(QDialog* dialog) = 0;
    // Shows a tool (the frame selector) beside the documents, not modal: in the tool host's place (the
    // main window's dock), or as a window of its own when no host is installed. Returns at once; the
    // tool's finished signal tells when the user closed it.
    virtual void ShowTool(QDialog* tool);
    // Printer choice before printing, and the page set-up; true unless cancelled.
    virtual bool PrintDialog(QWidget* owner, QPrinter* printer) = 0;
    virtual bool PageSetupDialog(QWidget* owner, QPrinter* printer) = 0;

    // The busy cursor shows while the count is above zero; calls nest.
    void BeginWaitCursor();
    void EndWaitCursor();
    int WaitCursorCount() const { return m_waitCursorCount; }

    // Text of the status bar's message pane (pane 0), repainted at once.
    virtual void SetStatusText(const QString& text);
    // A progress bar in the status bar for long loops: shown with a range, moved, hidden.
    virtual void ShowProgress(int maximum);
    virtual void SetProgress(int value);
    virtual void HideProgress();

protected:
    // Called when the count goes from 0 to 1 (on) and from 1 to 0 (off).
    virtual void ShowWaitCursor(bool on);

private:
    int m_waitCursorCount = 0;
    QElapsedTimer m_progressClock;  // since the progress bar was shown
};

// The toolkit's own dialogs.
class QtFramework : public Framework {
public:
    int MessageBox(QWidget* owner, const QString& text, const QString& caption, unsigned style) override;
    bool FileDialog(QWidget* owner, const FileDialogRequest& request, QString* chosenPath) override;
    int DoModal(QDialog* dialog) override;
    bool PrintDialog(QWidget* owner, QPrinter* printer) override;
    bool PageSetupDialog(QWidget* owner, QPrinter* printer) override;
};

// Gives a top-level window the size wanted, as far as its screen's available area holds it with the
// window's frame (the real margins once the window system has framed it), and moves it so that the
// frame lies inside that area.
void FitWindowIntoScreen(QWidget* window, QSize wanted);

// The application's printer (made on first use), or null when no application has set one up.
QPrinter* AppPrinter();
// Installs the function that AppPrinter asks; an empty one leaves printing without a printer.
void SetAppPrinterSource(std::function<QPrinter*()> source);

// Where ShowTool puts a tool; installed by the main window, empty: tools are windows of their own.
void SetToolHost(std::function<void(QDialog*)> host);

// The services in use: the toolkit's unless another implementation was installed.
Framework& AppFramework();
// Installs framework (not owned); null goes back to the toolkit's.
void SetAppFramework(Framework* framework);
