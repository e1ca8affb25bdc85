#include "framework/Framework.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressBar>
#include <QRegularExpression>
#include <QScreen>
#include <QWidget>
#include <algorithm>

#include "framework/StatusBar.h"

namespace {

QtFramework& ToolkitFramework() {
    static QtFramework instance;
    return instance;
}

Framework* installed = nullptr;
std::function<QPrinter*()> printerSource;

// "*.avi;*.AVI" -> "*.avi *.AVI"; "*.*" -> "*" (every file, also names without a dot).
QString PatternsForToolkit(const QString& patterns) {
    QStringList out;
    for (const QString& p : patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        QString t = p.trimmed();
        if (t == QLatin1String("*.*")) t = QStringLiteral("*");
        if (!t.isEmpty() && !out.contains(t)) out << t;
    }
    return out.join(QLatin1Char(' '));
}

}  // namespace

void FitWindowIntoScreen(QWidget* window, QSize wanted) {
    if (!window || !window->isWindow() || window->isMaximized() || window->isFullScreen()) return;
    const QScreen* screen = window->screen();
    const QRect available = screen ? screen->availableGeometry() : QRect();
    if (!available.isValid()) {
        window->resize(wanted);
        return;
    }
    const QSize decoration = (window->frameGeometry().size() - window->size()).expandedTo(QSize(0, 0));
    wanted = wanted.boundedTo(available.size() - decoration).expandedTo(window->minimumSize());
    if (wanted != window->size()) window->resize(wanted);
    const QSize outer = window->size() + decoration;
    QPoint pos = window->pos();
    pos.setX(std::max(available.left(), std::min(pos.x(), available.right() + 1 - outer.width())));
    pos.setY(std::max(available.top(), std::min(pos.y(), available.bottom() + 1 - outer.height())));
    if (pos != window->pos()) window->move(pos);
}

QStringList NameFiltersFromFilterString(const QString& filter) {
    QStringList parts = filter.split(QLatin1Char('|'));
    QStringList result;
    static const QRegularExpression trailingPatterns(QStringLiteral("\\s*\\(([^()]*)\\)\\s*$"));
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i].trimmed();
        QString patterns = PatternsForToolkit(parts[i + 1]);
        if (description.isEmpty() && patterns.isEmpty()) break;  // the closing "||"
        if (patterns.isEmpty()) patterns = QStringLiteral("*");
        // The toolkit reads the patterns from the parentheses at the end of the description.
        QRegularExpressionMatch m = trailingPatterns.match(description);
        if (m.hasMatch()) description.truncate(m.capturedStart());
        if (description.isEmpty()) description = patterns;
        result << description + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return result;
}

QPrinter* AppPrinter() { return printerSource ? printerSource() : nullptr; }

void SetAppPrinterSource(std::function<QPrinter*()> source) { printerSource = std::move(source); }

Framework::~Framework() = default;

void Framework::BeginWaitCursor() {
    if (++m_waitCursorCount == 1) ShowWaitCursor(true);
}

void Framework::EndWaitCursor() {
    if (m_waitCursorCount == 0) return;
    if (--m_waitCursorCount == 0) ShowWaitCursor(false);
}

void Framework::ShowWaitCursor(bool on) {
    if (!qApp) return;
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void Framework::SetStatusText(const QString& text) {
    if (mainStatusBar) mainStatusBar->SetPaneText(0, text, true);
}

QString ProgressText(int value, int maximum, qint64 elapsedMs) {
    QString text = QStringLiteral("%1 of %2").arg(value).arg(maximum);
    // The time left is guessed from the pace so far, once there is a pace to go by.
    if (value <= 0 || value >= maximum || elapsedMs < 1000) return text;
    const qint64 left = (elapsedMs * (maximum - value) / value + 999) / 1000;
    const QString time = left >= 3600 ? QString::asprintf("%lld:%02lld:%02lld", left / 3600, left / 60 % 60, left % 60)
                                      : QString::asprintf("%lld:%02lld", left / 60, left % 60);
    return text + QStringLiteral(", %1 left").arg(time);
}

void Framework::ShowProgress(int maximum) {
    if (!mainStatusBar) return;
    QProgressBar* bar = mainStatusBar->Progress();
    bar->setRange(0, maximum > 0 ? maximum : 0);
    bar->setValue(0);
    bar->setFormat(ProgressText(0, maximum, 0));
    bar->setTextVisible(true);
    m_progressClock.start();
    bar->show();
    bar->repaint();
}

void Framework::SetProgress(int value) {
    if (!mainStatusBar) return;
    QProgressBar* bar = mainStatusBar->Progress();
    if (!bar->isVisible()) return;
    bar->setValue(value);
    bar->setFormat(ProgressText(value, bar->maximum(), m_progressClock.isValid() ? m_progressClock.elapsed() : 0));
    bar->repaint();
}

void Framework::HideProgress() {
    if (mainStatusBar) mainStatusBar->Progress()->hide();
}

int QtFramework::MessageBox(QWidget* owner, const QString& text, const QString& caption, unsigned style) {
    QMessageBox box(owner);
    box.setText(text);
    box.setTextFormat(Qt::PlainText);
    box.setWindowTitle(caption);
    switch (style & 0xF0u) {
    case MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: break;
    }
    switch (style & 0xFu) {
    case MB_OKCANCEL: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case MB_YESNOCANCEL: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel); break;
    case MB_YESNO: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    default: box.setStandardButtons(QMessageBox::Ok); break;
    }
    if (style & MB_SETFOREGROUND) box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    switch (box.exec()) {
    case QMessageBox::Yes: return IDYES;
    case QMessageBox::No: return IDNO;
    case QMessageBox::Cancel: return IDCANCEL;
    case QMessageBox::Ok: return IDOK;
    default:
        // Closed by the window's close box: the answer that does nothing.
        return (style & 0xFu) == MB_OK ? IDOK : (style & 0xFu) == MB_YESNO ? IDNO : IDCANCEL;
    }
}

bool QtFramework::FileDialog(QWidget* owner, const FileDialogRequest& request, QString* chosenPath) {
    QFileDialog dialog(owner, request.title);
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilters(NameFiltersFromFilterString(request.filter));
    if (!request.defaultExtension.isEmpty()) dialog.setDefaultSuffix(request.defaultExtension);
    if (request.save && !(request.flags & OFN_OVERWRITEPROMPT))
        dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (!request.directory.isEmpty()) {
        dialog.setDirectory(request.directory);
        if (!request.proposedName.isEmpty()) dialog.selectFile(QFileInfo(request.proposedName).fileName());
    } else if (!request.proposedName.isEmpty()) {
        dialog.selectFile(request.proposedName);
    }
    if (dialog.exec() != QDialog::Accepted) return false;
    QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return false;
    if (chosenPath) *chosenPath = files.first();
    return true;
}

int QtFramework::DoModal(QDialog* dialog) { return dialog ? dialog->exec() : QDialog::Rejected; }

namespace {
std::function<void(QDialog*)>& ToolHost() {
    static std::function<void(QDialog*)> host;
    return host;
}
}  // namespace

void SetToolHost(std::function<void(QDialog*)> host) { ToolHost() = std::move(host); }

void Framework::ShowTool(QDialog* tool) {
    if (!tool) return;
    if (ToolHost()) {
        ToolHost()(tool);
        return;
    }
    tool->show();
    tool->raise();
    tool->activateWindow();
}

bool QtFramework::PrintDialog(QWidget* owner, QPrinter* printer) {
    QPrintDialog dialog(printer, owner);
    return dialog.exec() == QDialog::Accepted;
}

bool QtFramework::PageSetupDialog(QWidget* owner, QPrinter* printer) {
    QPageSetupDialog dialog(printer, owner);
    return dialog.exec() == QDialog::Accepted;
}

Framework& AppFramework() { return installed ? *installed : ToolkitFramework(); }

void SetAppFramework(Framework* framework) { installed = framework; }
