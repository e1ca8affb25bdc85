// A stand-in for the framework services that answers every question from queues filled by the test and
// records what the program asked, so GUI tests run with no person at the screen.
#pragma once

#include <QString>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "framework/Framework.h"

class ScriptedFramework : public Framework {
public:
    struct Message {
        QString text;
        QString caption;
        unsigned style = 0;
        int answer = 0;
        bool hadOwner = false;
    };

    // Installs itself for its lifetime.
    ScriptedFramework();
    ~ScriptedFramework() override;

    // Answers, taken front first.
    std::deque<int> messageAnswers;                    // IDYES, IDNO, ...; an OK box needs none
    std::deque<std::optional<QString>> fileAnswers;    // a path, or nullopt for Cancel
    std::deque<std::function<int(QDialog*)>> dialogs;  // runs against the shown dialog, returns its result
    std::deque<std::optional<QString>> printAnswers;   // PDF file to print to, or nullopt for Cancel

    // What was asked.
    std::vector<Message> messages;
    std::vector<FileDialogRequest> fileRequests;
    std::vector<QString> dialogTitles;
    std::vector<QString> statusTexts;
    std::vector<int> progressValues;
    int progressMaximum = -1;
    bool progressVisible = false;
    int waitCursorShown = 0;  // times the busy cursor went on
    // Questions that had no scripted answer (a test expecting none checks this stays empty).
    std::vector<QString> unexpected;

    int MessageBox(QWidget* owner, const QString& text, const QString& caption, unsigned style) override;
    bool FileDialog(QWidget* owner, const FileDialogRequest& request, QString* chosenPath) override;
    int DoModal(QDialog* dialog) override;
    // A tool with a handler queued in dialogs runs as a scripted dialog does: shown where the program
    // shows it (the main window's dock), the handler, then closed with the handler's result. Without
    // one the tool is shown for real and stays open.
    void ShowTool(QDialog* tool) override;
    bool PrintDialog(QWidget* owner, QPrinter* printer) override;
    bool PageSetupDialog(QWidget* owner, QPrinter* printer) override;
    void SetStatusText(const QString& text) override;
    void ShowProgress(int maximum) override;
    void SetProgress(int value) override;
    void HideProgress() override;

    // Texts of the message boxes shown so far.
    std::vector<QString> MessageTexts() const;

protected:
    void ShowWaitCursor(bool on) override;
};
