// The Preferences dialog: one check box, "Deinterlace images".
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

    QCheckBox* DeinterlaceBox() const { return m_deinterlaceBox; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnInitDialog();
    void OnDeinterlaceClicked();

    QCheckBox* m_deinterlaceBox = nullptr;
    bool m_initialised = false;
};
