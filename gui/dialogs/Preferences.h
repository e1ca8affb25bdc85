// The Preferences dialog: "Deinterlace images", "Fit large videos to the window" and "Memory for
// stepping back".
#pragma once

#include <QDialog>
#include <cstdint>

class QCheckBox;
class QSpinBox;

class Preferences : public QDialog {
    Q_OBJECT
public:
    explicit Preferences(QWidget* parent = nullptr);

    // The state of the check box: set before the dialog runs, follows every click.
    uint8_t deinterlaceChecked = 0;
    uint8_t fitLargeChecked = 1;
    // Megabytes of decoded pictures kept for stepping back; set before the dialog runs, follows the field.
    int stepBackMegabytes = 1024;

    QCheckBox* DeinterlaceBox() const { return m_deinterlaceBox; }
    QCheckBox* FitLargeBox() const { return m_fitLargeBox; }
    QSpinBox* StepBackBox() const { return m_stepBackBox; }
    // The field's upper end: the machine's memory in megabytes, at most 64 GB.
    static int MaxStepBackMegabytes();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnInitDialog();
    void OnDeinterlaceClicked();

    QCheckBox* m_deinterlaceBox = nullptr;
    QCheckBox* m_fitLargeBox = nullptr;
    QSpinBox* m_stepBackBox = nullptr;
    bool m_initialised = false;
};
