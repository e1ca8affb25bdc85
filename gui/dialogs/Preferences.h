// The Preferences dialog: "Deinterlace images" and "Fit large videos to the window".
#pragma once

#include <QDialog>
#include <cstdint>

class QCheckBox;

class Preferences : public QDialog {
    Q_OBJECT
public:
    explicit Preferences(QWidget* parent = nullptr);

    // The state of the check box: set before the dialog runs, follows every click.
    uint8_t deinterlaceChecked = 0;
    uint8_t fitLargeChecked = 1;

    QCheckBox* DeinterlaceBox() const { return m_deinterlaceBox; }
    QCheckBox* FitLargeBox() const { return m_fitLargeBox; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnInitDialog();
    void OnDeinterlaceClicked();

    QCheckBox* m_deinterlaceBox = nullptr;
    QCheckBox* m_fitLargeBox = nullptr;
    bool m_initialised = false;
};
