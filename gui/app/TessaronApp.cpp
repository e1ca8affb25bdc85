#include "app/TessaronApp.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QPrinter>
#include <QSettings>
#include <algorithm>
#include <string>

#include "dialogs/AboutBox.h"
#include "dialogs/PickDialogs.h"
#include "framework/ChildFrame.h"
#include "framework/DocTemplate.h"
#include "framework/Document.h"
#include "framework/Framework.h"
#include "app/HelpWindow.h"
#include "fileio/IniFile.h"
#include "app/MainFrame.h"
#include "dialogs/Preferences.h"
#include "framework/ScrollView.h"
#include "doc/CTessaronDoc.h"
#include "video/VideoFrameReader.h"
#include "view/CTessaronView.h"

namespace {

CTessaronApp* theApp = nullptr;

const char* const kRegistryKey = "Local AppWizard-Generated Applications";
const char* const kRecentGroup = "Recent File List";
const char* const kFitLargeKey = "fitLargeVideos";
const char* const kStepBackKey = "stepBackMemoryMB";

// "Fit large videos to the window": on unless the INI file says 0.
uint8_t ReadFitLargeVideos(const std::string& iniPath) {
    return IniReadString(iniPath, kIniSection, kFitLargeKey, "1", 16) == "0" ? 0 : 1;
}

// "Memory for stepping back" in bytes: the INI file's megabytes, the default when the key is missing or
// not a number.
int64_t ReadStepBackMemory(const std::string& iniPath) {
    const std::string text = IniReadString(iniPath, kIniSection, kStepBackKey, "", 32);
    bool ok = false;
    const long long megabytes = QString::fromStdString(text).trimmed().toLongLong(&ok);
    if (!ok || megabytes < 0) return DefaultStepBackMemory();
    return std::min<int64_t>(megabytes, Preferences::MaxStepBackMegabytes()) << 20;
}

}  // namespace

// Resources live in the GUI library; a static library's resources must be registered by name.
static void InitResources() { Q_INIT_RESOURCE(tessaron); }

CTessaronApp* TheApp() { return theApp; }

CTessaronApp::CTessaronApp(int& argc, char** argv) {
    if (!QApplication::instance()) m_ownedApplication = std::make_unique<QApplication>(argc, argv);
    if (m_ownedApplication) {
        m_arguments = QCoreApplication::arguments();
    } else {
        for (int i = 0; i < argc; ++i) m_arguments << QString::fromLocal8Bit(argv[i]);
    }
    InitResources();
    theApp = this;
    SetAppPrinterSource([this] { return Printer(); });
}

CTessaronApp::~CTessaronApp() {
    if (m_pDocTemplate) m_pDocTemplate->CloseAllDocuments();
    m_help.reset();
    m_shortcuts.reset();
    m_pMainWnd.reset();
    m_pDocTemplate.reset();
    m_printer.reset();
    if (theApp == this) {
        theApp = nullptr;
        SetAppPrinterSource({});
    }
}

bool CTessaronApp::InitInstance() {
    // The toolkit is initialised with the QApplication; there is no OLE or ActiveX hosting to start.

    // Profile settings: the recent-file list of 4 entries.
    QCoreApplication::setOrganizationName(QString::fromLatin1(kRegistryKey));
    QCoreApplication::setApplicationName(QStringLiteral("Tessaron"));
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/tessaron.xpm")));
    LoadStdProfileSettings();

    // The one document template: document, child frame and view.
    m_pDocTemplate = std::make_unique<CDocTemplate>(
        129, QStringLiteral("\nTessaron\nTessaron\nAVI Files (*.avi)\n.avi\nAvi.Document\nAvi.Document"),
        [] { return std::unique_ptr<CDocument>(new CTessaronDoc); }, [] { return new CChildFrame; },
        [](CDocument* document) { return new CTessaronView(document); });

    m_pMainWnd = std::make_unique<CMainFrame>();
    if (!m_pMainWnd->Create()) {
        m_pMainWnd.reset();
        return false;
    }
    m_pDocTemplate->SetMdiArea(m_pMainWnd->MdiArea());
    connect(m_pDocTemplate.get(), &CDocTemplate::documentsChanged, m_pMainWnd.get(), &CMainFrame::UpdateMenus);

    // Files dropped on the main window are opened.
    m_pMainWnd->setAcceptDrops(true);

    // The settings come first: a file opened from the command line is shown as they say.
    startDirectory = QDir::currentPath();
    LoadSettings();
    // The frame selector's dock where the user left it.
    m_pMainWnd->RestoreDockState(IniPath().toStdString());

    // Shown before a file opens, so that the window's frame is known when it is sized to the video.
    m_pMainWnd->show();
    m_pMainWnd->WaitUntilFramed();
    FitWindowIntoScreen(m_pMainWnd.get(), m_pMainWnd->size());

    // The command line: a file name asks to open it. A file that cannot be opened has been reported
    // by then; the program goes on without it.
    for (int i = 1; i < m_arguments.size(); ++i) {
        const QString& arg = m_arguments[i];
        if (arg.isEmpty() || arg.startsWith(QLatin1Char('-'))) continue;
        OpenDocumentFile(arg);
        break;
    }
    return true;
}

QString CTessaronApp::ConfigFolder() {
    // An XDG_CONFIG_HOME that is not an absolute path is to be ignored.
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base)) base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/tessaron");
}

void CTessaronApp::LoadSettings() {
    const QString ini = IniPath();
    const QString left = startDirectory + QLatin1Char('/') + QString::fromLatin1(kIniFileName);
    QDir().mkpath(ConfigFolder());
    // Earlier versions kept the file in the folder they were started from: taken over once.
    bool readLeft = false;
    if (!QFileInfo::exists(ini) && QFileInfo(left).isFile() && QFileInfo(left).absoluteFilePath() != ini)
        readLeft = !QFile::copy(left, ini);  // a settings folder that cannot be written: read it where it is
    SetImageSetIniPath(ini);
    const std::string path = (readLeft ? left : ini).toUtf8().toStdString();
    deinterlaceEnabled = static_cast<uint8_t>(ReadDeinterlaceFlag(path));
    fitLargeVideos = ReadFitLargeVideos(path);
    stepBackMemory = ReadStepBackMemory(path);
}

int CTessaronApp::Run() { return QApplication::exec(); }

QString CTessaronApp::IniPath() const { return ConfigFolder() + QLatin1Char('/') + QString::fromLatin1(kIniFileName); }

void CTessaronApp::ShowPreferences() {
    std::string iniPath = IniPath().toUtf8().toStdString();
    // Re-read, so a change made to the file while the program runs counts from here on.
    deinterlaceEnabled = static_cast<uint8_t>(ReadDeinterlaceFlag(iniPath));

    fitLargeVideos = ReadFitLargeVideos(iniPath);
    stepBackMemory = ReadStepBackMemory(iniPath);

    Preferences dialog(nullptr);
    dialog.deinterlaceChecked = deinterlaceEnabled;
    dialog.fitLargeChecked = fitLargeVideos;
    dialog.stepBackMegabytes = static_cast<int>(stepBackMemory >> 20);
    // Only OK takes the boxes' states; Cancel and the close box leave the preferences as they were.
    if (AppFramework().DoModal(&dialog) == QDialog::Accepted) {
        deinterlaceEnabled = dialog.deinterlaceChecked ? 1 : 0;
        WriteDeinterlaceFlag(iniPath, deinterlaceEnabled);
        // Written only when changed, so an INI file without the key keeps following the default.
        if ((dialog.fitLargeChecked ? 1 : 0) != fitLargeVideos) {
            fitLargeVideos = dialog.fitLargeChecked ? 1 : 0;
            IniWriteString(iniPath, kIniSection, kFitLargeKey, fitLargeVideos ? "1" : "0");
        }
        if (int64_t(dialog.stepBackMegabytes) != (stepBackMemory >> 20)) {
            stepBackMemory = int64_t(dialog.stepBackMegabytes) << 20;
            IniWriteString(iniPath, kIniSection, kStepBackKey, std::to_string(dialog.stepBackMegabytes));
        }
    }

    if (m_pDocTemplate) {
        for (CDocument* doc : m_pDocTemplate->GetDocuments()) doc->UpdateAllViews(nullptr);
    }
}

void CTessaronApp::ShowAboutBox() {
    AboutBox about(m_pMainWnd.get());
    AppFramework().DoModal(&about);
}

void CTessaronApp::OnFileNew() {
    if (m_pDocTemplate) m_pDocTemplate->OpenDocumentFile(QString());
}

QString CTessaronApp::OpenFilter() {
    return QStringLiteral(
        "Video Files (*.mp4 *.mkv *.mov *.webm *.avi *.mpg *.m4v *.wmv *.flv *.ts)|"
        "*.mp4;*.mkv;*.mov;*.webm;*.avi;*.mpg;*.m4v;*.wmv;*.flv;*.ts|"
        "AVI Files (*.avi)|*.avi|"
        "All Files (*)|*||");
}

void CTessaronApp::OnFileOpen() {
    FileDialogRequest request;
    request.save = false;
    request.filter = OpenFilter();
    request.flags = OFN_HIDEREADONLY;
    QString path;
    if (!AppFramework().FileDialog(m_pMainWnd.get(), request, &path) || path.isEmpty()) return;
    OpenDocumentFile(path);
}

CDocument* CTessaronApp::OpenDocumentFile(const QString& path) {
    if (!m_pDocTemplate) return nullptr;
    CDocument* doc = m_pDocTemplate->OpenDocumentFile(path);
    if (doc && !path.isEmpty()) AddToRecentFileList(path);
    return doc;
}

void CTessaronApp::OpenRecentFile(int index) {
    if (index < 0 || index >= m_recentFiles.size()) return;
    QString path = m_recentFiles[index];
    // An entry that no longer opens leaves the list.
    if (!OpenDocumentFile(path)) RemoveFromRecentFileList(path);
}

void CTessaronApp::OnFilePrintSetup() { AppFramework().PageSetupDialog(m_pMainWnd.get(), Printer()); }

void CTessaronApp::OnHelpFinder() {
    if (!m_help) m_help = std::make_unique<HelpWindow>();
    m_help->show();
    m_help->raise();
    m_help->activateWindow();
}

void CTessaronApp::OnHelpKeys() {
    if (!m_shortcuts) m_shortcuts = std::make_unique<ShortcutsWindow>(m_pMainWnd.get());
    m_shortcuts->show();
    m_shortcuts->raise();
    m_shortcuts->activateWindow();
}

QPrinter* CTessaronApp::Printer() {
    if (!m_printer) m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return m_printer.get();
}

void CTessaronApp::LoadStdProfileSettings() {
    QSettings settings(QString::fromLatin1(kRegistryKey), QStringLiteral("Tessaron"));
    settings.beginGroup(QString::fromLatin1(kRecentGroup));
    m_recentFiles.clear();
    for (int i = 1; i <= kRecentFileCount; ++i) {
        QString file = settings.value(QStringLiteral("File%1").arg(i)).toString();
        if (!file.isEmpty() && !m_recentFiles.contains(file)) m_recentFiles << file;
    }
}

void CTessaronApp::SaveRecentFileList() const {
    QSettings settings(QString::fromLatin1(kRegistryKey), QStringLiteral("Tessaron"));
    settings.beginGroup(QString::fromLatin1(kRecentGroup));
    for (int i = 1; i <= kRecentFileCount; ++i) {
        QString key = QStringLiteral("File%1").arg(i);
        if (i <= m_recentFiles.size())
            settings.setValue(key, m_recentFiles[i - 1]);
        else
            settings.remove(key);
    }
}

void CTessaronApp::AddToRecentFileList(const QString& path) {
    QString absolute = QFileInfo(path).absoluteFilePath();
    m_recentFiles.removeAll(absolute);
    m_recentFiles.prepend(absolute);
    while (m_recentFiles.size() > kRecentFileCount) m_recentFiles.removeLast();
    SaveRecentFileList();
    if (m_pMainWnd) m_pMainWnd->UpdateRecentFileMenu(m_recentFiles);
}

void CTessaronApp::RemoveFromRecentFileList(const QString& path) {
    if (m_recentFiles.removeAll(path) == 0) return;
    SaveRecentFileList();
    if (m_pMainWnd) m_pMainWnd->UpdateRecentFileMenu(m_recentFiles);
}
