#include "dialogs/PickDialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "fileio/IniFile.h"

namespace {

// The form above OK and Cancel, as the dialog's whole layout.
void LayOutWithOkCancel(QDialog* dialog, QFormLayout* form) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(dialog);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

QString& IniPathStore() {
    static QString path;
    return path;
}

std::string Read(const char* key, const std::string& def) {
    const QString path = ImageSetIniPath();
    return path.isEmpty() ? def : IniReadString(path.toUtf8().toStdString(), kImageSetSection, key, def);
}
void Write(const char* key, const std::string& value) {
    const QString path = ImageSetIniPath();
    if (!path.isEmpty()) IniWriteString(path.toUtf8().toStdString(), kImageSetSection, key, value);
}
int ReadInt(const char* key, int def, int low, int high) {
    const std::string text = Read(key, std::to_string(def));
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    return end != text.c_str() && value >= low && value <= high ? int(value) : def;
}
double ReadDouble(const char* key, double def, double low, double high) {
    const std::string text = Read(key, std::to_string(def));
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    return end != text.c_str() && value >= low && value <= high ? value : def;
}
std::string Number(double value) { return QString::number(value, 'g', 10).toStdString(); }

const char* const kRuleNames[] = {"Best frame of every ... seconds", "Best frame of every ... frames",
                                  "Best frame of each of ... equal parts", "Best ... frames with a gap of at least"};

}  // namespace

void SetImageSetIniPath(const QString& path) { IniPathStore() = path; }
QString ImageSetIniPath() { return IniPathStore(); }

PickSettings LoadPickSettings() {
    PickSettings s;
    s.rule = PickRule(ReadInt("rule", 0, 0, 3));
    s.seconds = ReadDouble("seconds", 1.0, 0.001, 1e6);
    s.count = ReadInt("count", 30, 1, 1 << 30);
    s.minGap = ReadInt("minGap", 10, 0, 1 << 30);
    s.minRelative = ReadDouble("minRelative", 0, 0, 10);
    s.minChange = ReadDouble("minChange", 0, 0, 255);
    if (ReadInt("betweenMarks", 0, 0, 1)) s.first = kPickBetweenMarks;
    return s;
}

void StorePickSettings(const PickSettings& s) {
    Write("rule", std::to_string(int(s.rule)));
    Write("seconds", Number(s.seconds));
    Write("count", std::to_string(s.count));
    Write("minGap", std::to_string(s.minGap));
    Write("minRelative", Number(s.minRelative));
    Write("minChange", Number(s.minChange));
    Write("betweenMarks", s.first == kPickBetweenMarks ? "1" : "0");
}

QString DefaultImageFolder(const QString& videoPath) {
    if (videoPath.isEmpty()) return QDir::currentPath();
    const QFileInfo video(videoPath);
    return video.absolutePath() + QLatin1Char('/') + video.completeBaseName() + QStringLiteral("_frames");
}

ImageSaveChoices LoadImageSaveChoices(const QString& videoPath) {
    ImageSaveChoices c;
    // The last folder used, unless it was another video's own folder of frames: then this video's.
    const QString fallback = DefaultImageFolder(videoPath);
    c.folder = QString::fromUtf8(Read("folder", std::string()));
    if (c.folder.isEmpty() || (QFileInfo(c.folder).fileName().endsWith(QStringLiteral("_frames")) &&
                               QFileInfo(c.folder).absoluteFilePath() != fallback))
        c.folder = fallback;
    if (!ParseImageFormat(Read("format", "png"), &c.encoding.format)) c.encoding.format = ImageFormat::Png;
    c.encoding.jpegQuality = ReadInt("jpegQuality", 95, 1, 100);
    c.encoding.tiffDeflate = ReadInt("tiffDeflate", 0, 0, 1) != 0;
    c.pattern = QString::fromUtf8(Read("pattern", ""));
    c.useBox = ReadInt("useBox", 0, 0, 1) != 0;
    return c;
}

void StoreImageSaveChoices(const ImageSaveChoices& c) {
    Write("folder", c.folder.toUtf8().toStdString());
    Write("format", ImageFormatExtension(c.encoding.format));
    Write("jpegQuality", std::to_string(c.encoding.jpegQuality));
    Write("tiffDeflate", c.encoding.tiffDeflate ? "1" : "0");
    Write("pattern", c.pattern.toUtf8().toStdString());
    Write("useBox", c.useBox ? "1" : "0");
}

CheckBestDialog::CheckBestDialog(QWidget* parent, const PickSettings& s) : QDialog(parent) {
    setObjectName(QStringLiteral("CheckBestDialog"));
    setWindowTitle(QStringLiteral("Check best frames"));
    auto* form = new QFormLayout;
    m_rule = new QComboBox(this);
    for (const char* name : kRuleNames) m_rule->addItem(QString::fromLatin1(name));
    m_rule->setCurrentIndex(int(s.rule));
    m_seconds = new QDoubleSpinBox(this);
    m_seconds->setRange(0.01, 3600);
    m_seconds->setDecimals(2);
    m_seconds->setValue(s.seconds);
    m_count = new QSpinBox(this);
    m_count->setRange(1, 1 << 30);
    m_count->setValue(s.count);
    m_gap = new QSpinBox(this);
    m_gap->setRange(0, 1 << 30);
    m_gap->setValue(s.minGap);
    m_useRelative = new QCheckBox(QStringLiteral("Leave out frames below this share of their part's median"), this);
    m_useRelative->setChecked(s.minRelative > 0);
    m_relative = new QDoubleSpinBox(this);
    m_relative->setRange(0.05, 2);
    m_relative->setSingleStep(0.05);
    m_relative->setValue(s.minRelative > 0 ? s.minRelative : 0.8);
    form->addRow(QStringLiteral("Rule:"), m_rule);
    form->addRow(QStringLiteral("Seconds:"), m_seconds);
    form->addRow(QStringLiteral("Frames:"), m_count);
    form->addRow(QStringLiteral("Gap (frames):"), m_gap);
    form->addRow(m_useRelative);
    form->addRow(QStringLiteral("Share:"), m_relative);
    m_useChange =
        new QCheckBox(QStringLiteral("Skip near-duplicates: frames that differ from the last one by less than"), this);
    m_useChange->setChecked(s.minChange > 0);
    m_change = new QDoubleSpinBox(this);
    m_change->setRange(0.1, 255);
    m_change->setSingleStep(0.5);
    m_change->setDecimals(1);
    m_change->setValue(s.minChange > 0 ? s.minChange : 3);
    m_change->setToolTip(QStringLiteral("The mean difference of 32x18 luma thumbnails, 0 to 255"));
    form->addRow(m_useChange);
    form->addRow(QStringLiteral("Difference (D):"), m_change);
    m_betweenMarks = new QCheckBox(QStringLiteral("Only between the marks (I and O in the video window)"), this);
    m_betweenMarks->setChecked(s.first == kPickBetweenMarks);
    form->addRow(m_betweenMarks);
    LayOutWithOkCancel(this, form);
    connect(m_rule, &QComboBox::currentIndexChanged, this, [this] { UpdateEnabled(); });
    connect(m_useRelative, &QCheckBox::toggled, this, [this] { UpdateEnabled(); });
    connect(m_useChange, &QCheckBox::toggled, this, [this] { UpdateEnabled(); });
    UpdateEnabled();
}

void CheckBestDialog::UpdateEnabled() {
    const auto rule = PickRule(m_rule->currentIndex());
    m_seconds->setEnabled(rule == PickRule::EverySeconds);
    m_count->setEnabled(rule != PickRule::EverySeconds);
    m_gap->setEnabled(rule == PickRule::Best);
    m_relative->setEnabled(m_useRelative->isChecked());
    m_change->setEnabled(m_useChange->isChecked());
}

PickSettings CheckBestDialog::Settings() const {
    PickSettings s;
    s.rule = PickRule(m_rule->currentIndex());
    s.seconds = m_seconds->value();
    s.count = m_count->value();
    s.minGap = m_gap->value();
    s.minRelative = m_useRelative->isChecked() ? m_relative->value() : 0;
    s.minChange = m_useChange->isChecked() ? m_change->value() : 0;
    if (m_betweenMarks->isChecked()) s.first = kPickBetweenMarks;
    return s;
}

SaveImagesDialog::SaveImagesDialog(QWidget* parent, const ImageSaveChoices& c, bool boxAvailable) : QDialog(parent) {
    setObjectName(QStringLiteral("SaveImagesDialog"));
    setWindowTitle(QStringLiteral("Save checked frames as images"));
    auto* form = new QFormLayout;
    m_folder = new QLineEdit(c.folder, this);
    auto* browse = new QPushButton(QStringLiteral("Browse..."), this);
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(m_folder);
    folderRow->addWidget(browse);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString dir = QFileDialog::getExistingDirectory(this, QStringLiteral("Folder"), m_folder->text());
        if (!dir.isEmpty()) m_folder->setText(dir);
    });
    m_format = new QComboBox(this);
    for (const char* name : {"PNG", "JPEG", "TIFF", "TIFF (deflate)", "BMP"})
        m_format->addItem(QString::fromLatin1(name));
    const int index = c.encoding.format == ImageFormat::Png    ? 0
                      : c.encoding.format == ImageFormat::Jpeg ? 1
                      : c.encoding.format == ImageFormat::Tiff ? (c.encoding.tiffDeflate ? 3 : 2)
                                                               : 4;
    m_format->setCurrentIndex(index);
    m_quality = new QSpinBox(this);
    m_quality->setRange(1, 100);
    m_quality->setValue(c.encoding.jpegQuality);
    m_pattern = new QLineEdit(c.pattern, this);
    m_pattern->setPlaceholderText(QStringLiteral("{stem}_{frame}.png  ({time} {rank} {score})"));
    m_useBox = new QCheckBox(QStringLiteral("Only the crop box"), this);
    m_useBox->setChecked(c.useBox && boxAvailable);
    m_useBox->setEnabled(boxAvailable);
    form->addRow(QStringLiteral("Folder:"), folderRow);
    form->addRow(QStringLiteral("Format:"), m_format);
    form->addRow(QStringLiteral("JPEG quality:"), m_quality);
    form->addRow(QStringLiteral("Names:"), m_pattern);
    form->addRow(m_useBox);
    LayOutWithOkCancel(this, form);
    const auto update = [this] { m_quality->setEnabled(m_format->currentIndex() == 1); };
    connect(m_format, &QComboBox::currentIndexChanged, this, update);
    update();
}

ImageSaveChoices SaveImagesDialog::Choices() const {
    ImageSaveChoices c;
    c.folder = m_folder->text();
    const ImageFormat formats[] = {ImageFormat::Png, ImageFormat::Jpeg, ImageFormat::Tiff, ImageFormat::Tiff,
                                   ImageFormat::Bmp};
    c.encoding.format = formats[qBound(0, m_format->currentIndex(), 4)];
    c.encoding.tiffDeflate = m_format->currentIndex() == 3;
    c.encoding.jpegQuality = m_quality->value();
    c.pattern = m_pattern->text();
    c.useBox = m_useBox->isChecked();
    return c;
}
