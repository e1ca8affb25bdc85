#include "tests/gui_support/ScriptedFramework.h"

#include <QCoreApplication>
#include <QDialog>
#include <QPrinter>

ScriptedFramework::ScriptedFramework() { SetAppFramework(this); }

ScriptedFramework::~ScriptedFramework() { SetAppFramework(nullptr); }

int ScriptedFramework::MessageBox(QWidget* owner, const QString& text, const QString& caption, unsigned style) {
    Message m{text, caption, style, 0, owner != nullptr};
    unsigned buttons = style & 0xFu;
    if (!messageAnswers.empty()) {
        m.answer = messageAnswers.front();
        messageAnswers.pop_front();
    } else if (buttons == MB_OK) {
        m.answer = IDOK;
    } else {
        unexpected.push_back(QStringLiteral("message box: ") + text);
        m.answer = buttons == MB_YESNO ? IDNO : IDCANCEL;
    }
    messages.push_back(m);
    return m.answer;
}

bool ScriptedFramework::FileDialog(QWidget*, const FileDialogRequest& request, QString* chosenPath) {
    fileRequests.push_back(request);
    if (fileAnswers.empty()) {
        unexpected.push_back(QStringLiteral("file dialog"));
        return false;
    }
    std::optional<QString> answer = fileAnswers.front();
    fileAnswers.pop_front();
    if (!answer) return false;
    if (chosenPath) *chosenPath = *answer;
    return true;
}

int ScriptedFramework::DoModal(QDialog* dialog) {
    if (!dialog) return QDialog::Rejected;
    dialogTitles.push_back(dialog->windowTitle());
    if (dialogs.empty()) {
        unexpected.push_back(QStringLiteral("dialog: ") + dialog->windowTitle());
        return QDialog::Rejected;
    }
    auto handler = std::move(dialogs.front());
    dialogs.pop_front();
    // Shown (not run modally), so its initialisation runs and the handler can use its controls.
    dialog->show();
    QCoreApplication::processEvents();
    int result = handler(dialog);
    dialog->hide();
    return result;
}

void ScriptedFramework::ShowTool(QDialog* tool) {
    if (!tool) return;
    if (dialogs.empty()) {
        Framework::ShowTool(tool);
        return;
    }
    dialogTitles.push_back(tool->windowTitle());
    auto handler = std::move(dialogs.front());
    dialogs.pop_front();
    Framework::ShowTool(tool);
    QCoreApplication::processEvents();
    const int result = handler(tool);
    tool->done(result);
    QCoreApplication::processEvents();
}

bool ScriptedFramework::PrintDialog(QWidget*, QPrinter* printer) {
    if (printAnswers.empty()) {
        unexpected.push_back(QStringLiteral("print dialog"));
        return false;
    }
    std::optional<QString> answer = printAnswers.front();
    printAnswers.pop_front();
    if (!answer) return false;
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(*answer);
    return true;
}

bool ScriptedFramework::PageSetupDialog(QWidget*, QPrinter*) {
    unexpected.push_back(QStringLiteral("page setup dialog"));
    return false;
}

void ScriptedFramework::SetStatusText(const QString& text) {
    statusTexts.push_back(text);
    Framework::SetStatusText(text);
}

void ScriptedFramework::ShowProgress(int maximum) {
    progressMaximum = maximum;
    progressVisible = true;
    Framework::ShowProgress(maximum);
}

void ScriptedFramework::SetProgress(int value) {
    progressValues.push_back(value);
    Framework::SetProgress(value);
}

void ScriptedFramework::HideProgress() {
    progressVisible = false;
    Framework::HideProgress();
}

std::vector<QString> ScriptedFramework::MessageTexts() const {
    std::vector<QString> texts;
    for (const Message& m : messages) texts.push_back(m.text);
    return texts;
}

void ScriptedFramework::ShowWaitCursor(bool on) {
    if (on) ++waitCursorShown;
}
