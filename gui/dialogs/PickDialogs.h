// The frame selector's two small dialogs for image sets: "Check best..." (a rule that checks the best
// frames) and "Save checked frames as images..." (folder, format, JPEG quality, name pattern, crop
// box). Both remember their choices in the INI file's [Image sets] section.
#pragma once

#include <QDialog>
#include <QString>

#include "output/ImageFiles.h"
#include "selector/FramePick.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLineEdit;
class QSpinBox;

// The INI file the choices are kept in (set by the application at start-up; empty: not kept).
void SetImageSetIniPath(const QString& path);
QString ImageSetIniPath();
inline constexpr const char* kImageSetSection = "Image sets";

// What "Save checked frames as images..." asks for.
struct ImageSaveChoices {
    QString folder;
    ImageEncoding encoding;
    QString pattern;  // empty: the format's default
    bool useBox = false;
};

// The choices as last kept (defaults: the best frame of every second; PNG into <stem>_frames beside
// the video). The folder is the last one used, but a "..._frames" folder of another video gives way to
// this video's own.
PickSettings LoadPickSettings();
void StorePickSettings(const PickSettings& settings);
QString DefaultImageFolder(const QString& videoPath);
ImageSaveChoices LoadImageSaveChoices(const QString& videoPath = QString());
void StoreImageSaveChoices(const ImageSaveChoices& choices);

// PickSettings::first as "Check best..." sends it for "only between the marks": the view puts its marks
// (I and O in the video window) in its place.
inline constexpr int32_t kPickBetweenMarks = -1;

class CheckBestDialog : public QDialog {
    Q_OBJECT
public:
    CheckBestDialog(QWidget* parent, const PickSettings& settings);
    PickSettings Settings() const;

    QComboBox* RuleBox() const { return m_rule; }
    QDoubleSpinBox* SecondsBox() const { return m_seconds; }
    QSpinBox* CountBox() const { return m_count; }
    QSpinBox* GapBox() const { return m_gap; }
    QCheckBox* RelativeCheck() const { return m_useRelative; }
    QDoubleSpinBox* RelativeBox() const { return m_relative; }
    QCheckBox* ChangeCheck() const { return m_useChange; }
    QDoubleSpinBox* ChangeBox() const { return m_change; }
    QCheckBox* MarksCheck() const { return m_betweenMarks; }

private:
    void UpdateEnabled();
    QCheckBox* m_useChange;
    QDoubleSpinBox* m_change;
    QCheckBox* m_betweenMarks;
    QComboBox* m_rule;
    QDoubleSpinBox* m_seconds;
    QSpinBox* m_count;
    QSpinBox* m_gap;
    QCheckBox* m_useRelative;
    QDoubleSpinBox* m_relative;
};

class SaveImagesDialog : public QDialog {
    Q_OBJECT
public:
    // boxAvailable: the view has a crop box, so "Only the crop box" can be ticked.
    SaveImagesDialog(QWidget* parent, const ImageSaveChoices& choices, bool boxAvailable);
    ImageSaveChoices Choices() const;

    QLineEdit* FolderEdit() const { return m_folder; }
    QComboBox* FormatBox() const { return m_format; }
    QSpinBox* QualityBox() const { return m_quality; }
    QLineEdit* PatternEdit() const { return m_pattern; }
    QCheckBox* BoxCheck() const { return m_useBox; }

private:
    QLineEdit* m_folder;
    QComboBox* m_format;
    QSpinBox* m_quality;
    QLineEdit* m_pattern;
    QCheckBox* m_useBox;
};
