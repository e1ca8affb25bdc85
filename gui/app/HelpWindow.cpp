#include "app/HelpWindow.h"

#include <QAction>
#include <QRegularExpression>

#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "app/MainFrame.h"
#include "framework/CommandIds.h"

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("Tessaron Help"));
    setObjectName(QStringLiteral("HelpWindow"));
    // The help window does not keep the program running once the main window has closed.
    setAttribute(Qt::WA_QuitOnClose, false);
    m_browser = new QTextBrowser(this);
    m_browser->setOpenExternalLinks(true);
    m_browser->setSource(QUrl(QStringLiteral("qrc:/help/tessaron-help.html")));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_browser);
    resize(560, 520);
}

namespace {

// A menu item's text as read: without the mnemonic marks and the shortcut after a tab.
QString PlainText(const QAction* action) {
    QString text = action->text().section(QLatin1Char('\t'), 0, 0);
    text.remove(QRegularExpression(QStringLiteral("&(?!&)")));
    text.replace(QStringLiteral("&&"), QStringLiteral("&"));
    if (text.endsWith(QStringLiteral("..."))) text.chop(3);
    return text;
}

}  // namespace

QList<QPair<QString, QString>> KeyboardShortcuts(const CMainFrame* frame) {
    QList<QPair<QString, QString>> keys;
    if (frame) {
        for (const QAction* action : frame->actions()) {
            const QList<QKeySequence> sequences = action->shortcuts();
            if (sequences.isEmpty()) continue;
            QStringList shown;
            for (const QKeySequence& sequence : sequences) shown << sequence.toString(QKeySequence::NativeText);
            QString what = PlainText(action);
            // The editing keys and Save are known but do nothing in the main window (the video is only read).
            const int id = action->data().toInt();
            if (id == ID_FILE_SAVE || id == ID_EDIT_UNDO || id == ID_EDIT_CUT || id == ID_EDIT_COPY ||
                id == ID_EDIT_PASTE)
                what += QStringLiteral(" (no effect in the main window)");
            keys.append({shown.join(QStringLiteral(", ")), what});
        }
    }
    const char* const fixed[][2] = {
        {"Alt+letter", "Opens the menu whose underlined letter it is"},
        {"Left, Right", "Video window: the previous or next frame"},
        {"Page Up, Page Down", "Video window: ten frames back or on"},
        {"Home, End", "Video window: the first or last frame"},
        {"I, O",
         "Video window: mark the frame shown as the first or last for \"Check best...\" (only between the marks)"},
        {"Ctrl+wheel", "Video window: zoom in or out about the pointer"},
        {"Drag the slider", "Video window: look through the video (key frames); let go for the exact frame"},
        {"Up, Down, Page Up, Page Down, Home, End", "Frame selector list: move the caret and show that frame"},
        {"Shift+click, Ctrl+click", "Frame selector list: extend the selection"},
        {"Space", "Frame selector list: check or uncheck the caret frame and every selected frame"},
        {"Shift+Space", "Frame selector list: check or uncheck from the frame toggled last to the caret"},
        {"Ctrl+Z", "Frame selector: undo the last change of the check marks"},
        {"Ctrl+Shift+Z", "Frame selector: redo it"},
        {"Up, Down", "Frame selector quality field: one step of quality, previewed"},
        {"Return", "Frame selector quality field: take the typed quality, previewed"},
        {"Escape", "Frame selector: close it; during a sort or a write: asks whether to stop it"},
    };
    for (const auto& row : fixed) keys.append({QString::fromLatin1(row[0]), QString::fromLatin1(row[1])});
    return keys;
}

ShortcutsWindow::ShortcutsWindow(const CMainFrame* frame, QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("Keyboard Shortcuts"));
    setObjectName(QStringLiteral("ShortcutsWindow"));
    setAttribute(Qt::WA_QuitOnClose, false);
    m_browser = new QTextBrowser(this);
    QString html = QStringLiteral("<table cellspacing=0 cellpadding=3>");
    for (const auto& [keys, what] : KeyboardShortcuts(frame))
        html +=
            QStringLiteral("<tr><td><b>%1</b></td><td>%2</td></tr>").arg(keys.toHtmlEscaped(), what.toHtmlEscaped());
    html += QStringLiteral("</table>");
    m_browser->setHtml(html);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_browser);
    resize(620, 560);
}
