#include "dialogs/SelectVideoFrames.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QResizeEvent>
#include <QShowEvent>
#include <QSpinBox>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <new>
#include <set>

#include "dialogs/PickDialogs.h"
#include "dialogs/ScorePlot.h"
#include "fileio/IniFile.h"
#include "framework/DialogUnits.h"
#include "framework/Framework.h"

// The quality control: digits in a field with arrows at its right. Every step, also one that would
// leave the range, is announced before the value moves, with the position and the step. A typed value
// is announced when Return is pressed (which goes no further: it does not close the dialog) or when the
// field loses the focus.
class QualitySpinBox : public QSpinBox {
public:
    explicit QualitySpinBox(QWidget* parent) : QSpinBox(parent) {
        setButtonSymbols(QAbstractSpinBox::UpDownArrows);
        setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        setGroupSeparatorShown(false);
        setAccelerated(false);
    }

    std::function<void(int position, int delta)> onDeltaPos;
    std::function<void(bool returnKey)> onEntered;

    // The field that shows the digits.
    QLineEdit* Edit() const { return lineEdit(); }

    void stepBy(int steps) override {
        // One unit per step, whatever asked for more (page keys, a fast wheel): the stored quality
        // then never leaves 0 to 101, whose low byte the encoder reads as 1 to 100.
        steps = steps > 0 ? 1 : steps < 0 ? -1 : 0;
        if (steps == 0) return;
        if (onDeltaPos) onDeltaPos(value(), steps);
        QSpinBox::stepBy(steps);
    }

protected:
    // The arrows stay usable at the ends of the range, so a step beyond an end is still announced.
    StepEnabled stepEnabled() const override { return StepUpEnabled | StepDownEnabled; }

    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            interpretText();
            selectAll();
            if (onEntered) onEntered(true);
            event->accept();
            return;
        }
        QSpinBox::keyPressEvent(event);
    }
    void focusOutEvent(QFocusEvent* event) override {
        QSpinBox::focusOutEvent(event);
        if (onEntered) onEntered(false);
    }
};

namespace {

const char* const kCaption = "Video Frame Selector";
const char* const kCaptionOriginal = "Video Frame Selector - Frames in original order.";
const char* const kCaptionSorted = "Video Frame Selector - Sorted by 'JPEG size'.";
const char* const kCaptionSortedSharpness = "Video Frame Selector - Sorted by 'Sharpness'.";
const char* const kCaptionSortedLocal = "Video Frame Selector - Sorted by 'Local sharpness'.";
const char* const kScoreSection = "Frame Selector";

// Layout of the dialog at its smallest, in dialog units: x, y, width, height. A bigger dialog gives its
// extra height to the list (and the plot), its extra width to the full-width controls.
struct Place {
    int x, y, w, h;
};
constexpr Place kDialogSize{0, 0, 209, 346};
constexpr Place kListPlace{7, 7, 195, 142};  // the plot, when shown, takes the top of this place
constexpr int kPlotHeight = 56;
constexpr int kPlotGap = 4;
constexpr Place kCheckedCount{7, 152, 84, 14};
constexpr Place kCheckAll{93, 152, 45, 14};
constexpr Place kCheckNone{141, 152, 28, 14};
constexpr Place kInvert{172, 152, 30, 14};
constexpr Place kSortGroup{7, 174, 195, 50};
constexpr Place kNormal{14, 187, 32, 14};
constexpr Place kSort{53, 186, 32, 14};
constexpr Place kQualityEdit{93, 187, 30, 14};  // the arrows sit inside its right end
constexpr Place kQualityLabel{124, 185, 37, 17};
constexpr Place kView{163, 186, 32, 14};
constexpr Place kSortOptions{14, 205, 181, 14};  // the row for the choice of score:
constexpr Place kScoreKind{14, 205, 64, 14};
constexpr Place kBoxOnly{84, 206, 111, 12};
constexpr Place kStatus{17, 227, 170, 21};
constexpr Place kSaveBmp{17, 252, 170, 14};
constexpr Place kCreateAvi{17, 270, 170, 14};
constexpr Place kCheckBest{17, 288, 170, 14};
constexpr Place kSaveImages{17, 306, 170, 14};
constexpr Place kClose{79, 325, 50, 14};

QRect ToPixels(const DialogUnits& du, const Place& p) { return du.Rect(p.x, p.y, p.w, p.h); }

void SetControlId(QWidget* control, int id, const char* name) {
    control->setObjectName(QString::fromLatin1(name));
    control->setProperty("controlId", id);
}

// A push button of the dialog at its place; Return does not press it unless it is made the default.
QPushButton* MakeButton(QWidget* dialog, const char* text, int id, const char* name, const QRect& place) {
    auto* button = new QPushButton(QString::fromUtf8(text), dialog);
    SetControlId(button, id, name);
    button->setGeometry(place);
    button->setAutoDefault(false);
    return button;
}

}  // namespace

SelectVideoFrames::SelectVideoFrames(QWidget* parent, ViewRequests* receiver,
                                     const std::vector<std::string>* frameOrder)
    : QDialog(parent), m_pFrameOrder(frameOrder), m_pView(receiver), m_frameList(this), m_viewButton(this) {
    setObjectName(QStringLiteral("SelectVideoFrames"));
    setWindowTitle(QString::fromLatin1(kCaption));
    // A caption with a close box and a frame that can be resized; no help button.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    // Not modal: the video beside it zooms, scrolls and steps while frames are judged.
    setSizeGripEnabled(true);

    DialogUnits du(fontMetrics());
    setMinimumSize(du.X(kDialogSize.w), du.Y(kDialogSize.h));
    resize(minimumSize());

    // The sort group is made first so that it lies below the controls drawn inside it (a control made
    // before it would be covered and could not take a click).
    m_sortGroup = new QGroupBox(QStringLiteral("Apply \"JPEG-size\" frame sorting algorithm"), this);
    m_sortGroup->setObjectName(QStringLiteral("IDC_SORT_GROUP"));
    m_sortGroup->lower();

    // Only marks where the check-list goes.
    m_listPlace = new QWidget(this);
    SetControlId(m_listPlace, IDC_LIST_PLACE, "IDC_LIST_PLACE");
    m_listPlace->hide();

    SetControlId(&m_frameList, IDC_FRAME_LIST, "IDC_FRAME_LIST");

    m_plot = new ScorePlot(this);
    SetControlId(m_plot, IDC_SCORE_PLOT, "IDC_SCORE_PLOT");
    m_plot->hide();

    m_checkedLabel = new QLabel(QStringLiteral("0 checked"), this);
    SetControlId(m_checkedLabel, IDC_CHECKED_COUNT, "IDC_CHECKED_COUNT");
    m_checkedLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_checkAllButton = MakeButton(this, "Check all", IDC_CHECK_ALL, "IDC_CHECK_ALL", QRect());
    m_checkNoneButton = MakeButton(this, "None", IDC_CHECK_NONE, "IDC_CHECK_NONE", QRect());
    m_invertButton = MakeButton(this, "Invert", IDC_CHECK_INVERT, "IDC_CHECK_INVERT", QRect());
    m_checkAllButton->setToolTip(QStringLiteral("Check every frame"));
    m_checkNoneButton->setToolTip(QStringLiteral("Uncheck every frame"));
    m_invertButton->setToolTip(
        QStringLiteral("Turn every check mark over (Shift+Space in the list checks from the last toggled frame "
                       "to the caret)"));

    m_normalButton = MakeButton(this, "Normal", IDC_NORMAL, "IDC_NORMAL", QRect());
    m_sortButton = MakeButton(this, "Sort", IDC_SORT, "IDC_SORT", QRect());

    m_qualitySpin = new QualitySpinBox(this);
    SetControlId(m_qualitySpin, IDC_SPIN, "IDC_SPIN");
    m_qualitySpin->setRange(1, 100);
    m_qualitySpin->setValue(25);
    m_qualitySpin->Edit()->setObjectName(QStringLiteral("IDC_QUALITY"));
    m_qualitySpin->Edit()->setProperty("controlId", static_cast<int>(IDC_QUALITY));

    m_qualityLabel = new QLabel(QStringLiteral("Adjust sort\nquality"), this);
    m_qualityLabel->setObjectName(QStringLiteral("IDC_QUALITY_LABEL"));
    m_qualityLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    m_viewButton.setText(QStringLiteral("View"));
    SetControlId(&m_viewButton, IDC_VIEW, "IDC_VIEW");
    m_viewButton.setCheckable(true);
    m_viewButton.setAutoDefault(false);
    m_viewButton.raise();

    // The score the sort ranks by, and whether only the crop box counts.
    m_scoreBox = new QComboBox(this);
    m_scoreBox->setObjectName(QStringLiteral("IDC_SCORE_KIND"));
    m_scoreBox->addItem(QStringLiteral("JPEG size"));
    m_scoreBox->addItem(QStringLiteral("Sharpness"));
    m_scoreBox->addItem(QStringLiteral("Local sharpness"));
    m_scoreBox->setGeometry(ToPixels(du, kScoreKind));
    m_boxOnlyCheck = new QCheckBox(QStringLiteral("Score only the crop box"), this);
    m_boxOnlyCheck->setObjectName(QStringLiteral("IDC_SCORE_BOX_ONLY"));
    m_boxOnlyCheck->setGeometry(ToPixels(du, kBoxOnly));
    m_boxOnlyCheck->setEnabled(false);

    m_statusText = new QLabel(this);
    SetControlId(m_statusText, IDC_STATUS, "IDC_STATUS");
    m_statusText->setFrameStyle(QFrame::Box | QFrame::Plain);
    m_statusText->setLineWidth(1);
    m_statusText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_statusText->setTextFormat(Qt::PlainText);
    m_statusText->setWordWrap(true);
    m_statusText->setMargin(1);

    m_saveButton = MakeButton(this, "Save displayed frame as a bmp file", IDC_SAVE_BMP, "IDC_SAVE_BMP", QRect());
    m_createButton = MakeButton(this, "Create AVI video file from checked frames", IDC_CREATE_AVI, "IDC_CREATE_AVI",
                                QRect());
    m_checkBestButton = MakeButton(this, "Check best...", IDC_CHECK_BEST, "IDC_CHECK_BEST", QRect());
    m_saveImagesButton = MakeButton(this, "Save checked frames as images...", IDC_SAVE_IMAGES, "IDC_SAVE_IMAGES",
                                    QRect());

    m_closeButton = new QPushButton(QStringLiteral("Close"), this);
    SetControlId(m_closeButton, IDOK_CLOSE, "IDOK");
    m_closeButton->setDefault(true);

    Relayout();

    // Keyboard order: the list, its check buttons, the sort controls from left to right, the outputs, Close.
    setTabOrder(m_plot, &m_frameList);
    setTabOrder(&m_frameList, m_checkAllButton);
    setTabOrder(m_checkAllButton, m_checkNoneButton);
    setTabOrder(m_checkNoneButton, m_invertButton);
    setTabOrder(m_invertButton, m_normalButton);
    setTabOrder(m_normalButton, m_sortButton);
    setTabOrder(m_sortButton, m_qualitySpin);
    setTabOrder(m_qualitySpin, &m_viewButton);
    setTabOrder(&m_viewButton, m_scoreBox);
    setTabOrder(m_scoreBox, m_boxOnlyCheck);
    setTabOrder(m_boxOnlyCheck, m_saveButton);
    setTabOrder(m_saveButton, m_createButton);
    setTabOrder(m_createButton, m_checkBestButton);
    setTabOrder(m_checkBestButton, m_saveImagesButton);
    setTabOrder(m_saveImagesButton, m_closeButton);

    connect(&m_frameList, &myCheckListBox::selectionChange, this, &SelectVideoFrames::OnFrameListChange);
    connect(&m_frameList, &myCheckListBox::checkChange, this, &SelectVideoFrames::OnFrameListChange);
    connect(m_checkAllButton, &QPushButton::clicked, this, &SelectVideoFrames::OnCheckAll);
    connect(m_checkNoneButton, &QPushButton::clicked, this, &SelectVideoFrames::OnCheckNone);
    connect(m_invertButton, &QPushButton::clicked, this, &SelectVideoFrames::OnInvertChecks);
    connect(m_plot, &ScorePlot::frameClicked, this, &SelectVideoFrames::OnPlotClicked);
    connect(m_plot, &ScorePlot::rangeDragged, this, &SelectVideoFrames::OnPlotRange);
    connect(m_normalButton, &QPushButton::clicked, this, &SelectVideoFrames::OnNormal);
    connect(m_sortButton, &QPushButton::clicked, this, &SelectVideoFrames::OnSort);
    connect(&m_viewButton, &QPushButton::clicked, this, &SelectVideoFrames::OnView);
    m_qualitySpin->onDeltaPos = [this](int position, int delta) { OnQualityDeltaPos(position, delta); };
    m_qualitySpin->onEntered = [this](bool returnKey) { OnQualityEntered(returnKey); };
    connect(m_saveButton, &QPushButton::clicked, this, &SelectVideoFrames::OnSaveDisplayedFrame);
    connect(m_createButton, &QPushButton::clicked, this, &SelectVideoFrames::OnCreateAvi);
    connect(m_checkBestButton, &QPushButton::clicked, this, &SelectVideoFrames::OnCheckBest);
    connect(m_saveImagesButton, &QPushButton::clicked, this, &SelectVideoFrames::OnSaveImages);
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_scoreBox, &QComboBox::activated, this, [this] { StoreScoreChoice(); });
    connect(m_scoreBox, &QComboBox::currentIndexChanged, this, [this] { ShowScoreChoice(); });
    connect(m_boxOnlyCheck, &QCheckBox::clicked, this, [this](bool on) {
        m_boxOnly = on;
        StoreScoreChoice();
    });
}

ScoreKind SelectVideoFrames::Score() const {
    switch (m_scoreBox->currentIndex()) {
    case 1: return ScoreKind::Sharpness;
    case 2: return ScoreKind::LocalSharpness;
    default: return ScoreKind::Jpeg;
    }
}

bool SelectVideoFrames::ScoreOnlyBox() const { return m_boxOnlyCheck->isEnabled() && m_boxOnlyCheck->isChecked(); }

void SelectVideoFrames::StoreScoreChoice() {
    const std::string ini = ImageSetIniPath().toUtf8().toStdString();
    if (ini.empty()) return;
    IniWriteString(ini, kScoreSection, "score", ScoreKindName(Score()));
    IniWriteString(ini, kScoreSection, "scoreOnlyBox", m_boxOnly ? "1" : "0");
}

SelectVideoFrames::~SelectVideoFrames() = default;

QSpinBox* SelectVideoFrames::QualitySpin() const { return m_qualitySpin; }

void SelectVideoFrames::Relayout() {
    const DialogUnits du(fontMetrics());
    const int dw = std::max(0, width() - du.X(kDialogSize.w));
    const int dh = std::max(0, height() - du.Y(kDialogSize.h));
    // A place of the smallest layout, widened by grow and moved right by shift and down by dh.
    auto at = [&](const Place& p, int grow = 0, int shift = 0) {
        return ToPixels(du, p).adjusted(shift, dh, shift + grow, dh);
    };

    QRect list = ToPixels(du, kListPlace).adjusted(0, 0, dw, dh);
    if (m_plot->HasScores()) {
        // The plot takes a third of the extra height, the list the rest.
        const int plotHeight = du.Y(kPlotHeight) + dh / 3;
        m_plot->setGeometry(QRect(list.left(), list.top(), list.width(), plotHeight));
        list.setTop(list.top() + plotHeight + du.Y(kPlotGap));
        m_plot->show();
    } else {
        m_plot->hide();
    }
    m_listPlace->setGeometry(list);
    m_frameList.setGeometry(list);

    m_checkedLabel->setGeometry(at(kCheckedCount));
    m_checkAllButton->setGeometry(at(kCheckAll, 0, dw));
    m_checkNoneButton->setGeometry(at(kCheckNone, 0, dw));
    m_invertButton->setGeometry(at(kInvert, 0, dw));
    m_sortGroup->setGeometry(at(kSortGroup, dw));
    m_normalButton->setGeometry(at(kNormal));
    m_sortButton->setGeometry(at(kSort));
    m_qualitySpin->setGeometry(at(kQualityEdit));
    m_qualityLabel->setGeometry(at(kQualityLabel));
    m_viewButton.setGeometry(at(kView, 0, dw));
    m_sortOptionsPlace = at(kSortOptions, dw);
    m_scoreBox->setGeometry(at(kScoreKind));
    m_boxOnlyCheck->setGeometry(at(kBoxOnly));
    m_statusText->setGeometry(at(kStatus, dw));
    if (!m_fullStatus.isEmpty()) SetStatusText(m_fullStatus);
    m_saveButton->setGeometry(at(kSaveBmp, dw));
    m_createButton->setGeometry(at(kCreateAvi, dw));
    m_checkBestButton->setGeometry(at(kCheckBest, dw));
    m_saveImagesButton->setGeometry(at(kSaveImages, dw));
    m_closeButton->setGeometry(at(kClose, 0, dw / 2));
}

void SelectVideoFrames::keyPressEvent(QKeyEvent* event) {
    // Keys no control of the dialog took: Ctrl+Z and Ctrl+Shift+Z undo and redo check marks.
    const Qt::KeyboardModifiers mods = event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
    if (event->key() == Qt::Key_Z &&
        (mods == Qt::ControlModifier || mods == (Qt::ControlModifier | Qt::ShiftModifier))) {
        if (mods & Qt::ShiftModifier)
            RedoChecks();
        else
            UndoChecks();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void SelectVideoFrames::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    Relayout();
}

void SelectVideoFrames::showEvent(QShowEvent* event) {
    // Every opening initialises the dialog afresh; a window coming back from the task bar, or the dock
    // it sits in being floated or docked again, does not.
    if (!event->spontaneous() && m_initPending) {
        m_initPending = false;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void SelectVideoFrames::hideEvent(QHideEvent* event) {
    // Hidden as a window of its own, it was closed; inside a dock only the dock moved.
    if (isWindow() && !event->spontaneous()) m_initPending = true;
    QDialog::hideEvent(event);
}

void SelectVideoFrames::done(int result) {
    m_initPending = true;
    QDialog::done(result);
}

void SelectVideoFrames::FollowFrame(int frame) {
    if (frame == m_displayedFrame) return;
    const FrameListModel& model = *m_frameList.Model();
    for (int i = 0; i < model.rowCount(); ++i) {
        if (model.Frame(i) != frame) continue;
        CaretToFrame(frame);
        return;
    }
}

bool SelectVideoFrames::OnInitDialog() {
    // The caption names the order the list shows, which the view has kept.
    setWindowTitle(m_orderCaption.isEmpty() ? QString::fromLatin1(kCaption) : m_orderCaption);
    m_viewButton.setChecked(false);

    // The score choice as last kept; the box check box only when the view had a box.
    const std::string ini = ImageSetIniPath().toUtf8().toStdString();
    if (!ini.empty()) {
        ScoreKind kind = Score();
        if (ParseScoreKind(IniReadString(ini, kScoreSection, "score", ScoreKindName(kind)), &kind))
            m_scoreBox->setCurrentIndex(kind == ScoreKind::Sharpness ? 1 : kind == ScoreKind::LocalSharpness ? 2 : 0);
        m_boxOnly = IniReadString(ini, kScoreSection, "scoreOnlyBox", m_boxOnly ? "1" : "0") == "1";
    }
    m_boxOnlyCheck->setEnabled(m_boxAvailable);
    m_boxOnlyCheck->setChecked(m_boxOnly);
    ShowScoreChoice();
    FillFrameList();
    // The list opens at the frame the video shows.
    if (m_viewFrame >= 0) CaretToFrame(m_viewFrame);
    RefreshScores();

    // The quality kept from the last opening, shown as the encoder will use it.
    m_qualitySpin->setValue(qBound(1, m_quality, 100));

    m_frameList.setFocus(Qt::OtherFocusReason);
    return true;
}

void SelectVideoFrames::RefreshScores() {
    FrameScores scores;
    if (m_pView) scores = m_pView->SortScores();
    const bool had = m_plot->HasScores();
    m_plot->SetCaption(scores.name);
    m_plot->SetScores(std::move(scores.values));
    m_plot->SetMarks(scores.markIn, scores.markOut);
    m_plot->SetChecked(m_checkedByFrame);
    m_plot->SetCurrentFrame(m_displayedFrame);
    if (had != m_plot->HasScores()) Relayout();
}

namespace {

// text as the status field can show it whole: unchanged when it fits, otherwise with as much of its
// middle replaced by an ellipsis as needed, so the start ("Frame 12 saved to") and the end (the file
// name) both stay readable.
QString FitIntoField(const QLabel& field, const QString& text) {
    const QFontMetrics metrics(field.font());
    // The width the label wraps its text in: inside its frame and margin, less the indent it takes
    // beside a frame when none is set.
    int width = field.contentsRect().width() - 2 * field.margin();
    int indent = field.indent();
    if (indent < 0 && field.frameWidth() > 0) indent = metrics.horizontalAdvance(QLatin1Char('x')) - 2 * field.margin();
    if (indent > 0) width -= indent;
    // As many lines as the field is high (two: the preview's text has two).
    const int lines = qMax(1, field.contentsRect().height() / qMax(1, metrics.height()));
    if (width <= 0) return text;
    const int height = metrics
                           .boundingRect(QRect(0, 0, width, INT_MAX), Qt::TextWordWrap,
                                         QString(lines - 1, QLatin1Char('\n')) + QLatin1Char('X'))
                           .height();
    auto fits = [&](const QString& candidate) {
        const QRect needed = metrics.boundingRect(QRect(0, 0, width, INT_MAX), Qt::TextWordWrap | Qt::AlignLeft,
                                                  candidate);
        return needed.width() <= width && needed.height() <= height;
    };
    if (fits(text)) return text;
    const QString ellipsis(QChar(0x2026));
    auto shortened = [&](qsizetype cut) {
        const qsizetype keep = text.size() - cut;
        const qsizetype head = keep / 2;
        return text.left(head) + ellipsis + text.right(keep - head);
    };
    // The fewest characters cut that make it fit.
    qsizetype low = 1, high = text.size();
    while (low < high) {
        const qsizetype mid = low + (high - low) / 2;
        if (fits(shortened(mid)))
            high = mid;
        else
            low = mid + 1;
    }
    return shortened(low);
}

}  // namespace

void SelectVideoFrames::SetStatusText(const QString& text) {
    m_fullStatus = text;
    m_statusText->setText(FitIntoField(*m_statusText, text));
    m_statusText->setToolTip(m_statusText->text() == text ? QString() : text);
}

QString SelectVideoFrames::StatusText() const { return m_fullStatus; }

void SelectVideoFrames::FillFrameList() {
    m_frameList.ResetContent();
    std::vector<FrameListModel::Item> items;
    if (m_pFrameOrder) {
        const int entries = static_cast<int>(std::min<size_t>(m_pFrameOrder->size(), INT_MAX));
        const int end = std::min(m_endPos, entries);
        const int first = std::max(m_firstPos, 0);
        if (end > first) items.reserve(static_cast<size_t>(end - first));
        for (int p = first; p < end; ++p) {
            int score = 0, frame = 0;
            if (std::sscanf((*m_pFrameOrder)[static_cast<size_t>(p)].c_str(), "%d %d", &score, &frame) != 2) frame = 0;
            const bool checked = frame >= 0 && static_cast<size_t>(frame) < m_checkedByFrame.size() &&
                                 m_checkedByFrame[static_cast<size_t>(frame)];
            items.push_back({p, frame, static_cast<uint8_t>(checked ? 1 : 0)});
        }
    }
    m_frameList.AddFrameItems(items);
    CollectChecks();
    SetStatusText(QString::asprintf("Displaying frame:  %d", m_displayedFrame));
}

int SelectVideoFrames::FrameNumberOf(const QString& text) {
    static const QString kKey = QStringLiteral("Frame Number");
    int at = text.indexOf(kKey);
    if (at < 0) return 0;
    return std::atoi(text.mid(at + kKey.size()).toLatin1().constData());
}

namespace {

// Two sets of marks by frame; missing entries count as unchecked.
bool SameMarks(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    const size_t common = std::min(a.size(), b.size());
    if (!std::equal(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(common), b.begin())) return false;
    const std::vector<uint8_t>& longer = a.size() > b.size() ? a : b;
    return std::all_of(longer.begin() + static_cast<std::ptrdiff_t>(common), longer.end(),
                       [](uint8_t mark) { return mark == 0; });
}

// Steps of undo kept; each holds one mark per frame.
constexpr size_t kUndoSteps = 100;

}  // namespace

void SelectVideoFrames::UndoChecks() { StepChecks(m_undo, m_redo); }

void SelectVideoFrames::RedoChecks() { StepChecks(m_redo, m_undo); }

void SelectVideoFrames::StepChecks(std::vector<std::vector<uint8_t>>& from, std::vector<std::vector<uint8_t>>& to) {
    if (from.empty()) return;
    to.push_back(m_checkedByFrame);
    m_checkedByFrame = std::move(from.back());
    from.pop_back();
    FrameListModel& model = *m_frameList.Model();
    model.SetChecks(0, model.rowCount() - 1, [&](int row, uint8_t) {
        const int frame = model.Frame(row);
        return frame >= 0 && static_cast<size_t>(frame) < m_checkedByFrame.size() &&
               m_checkedByFrame[static_cast<size_t>(frame)];
    });
    m_stepping = true;
    CollectChecks();
    m_stepping = false;
}

void SelectVideoFrames::CollectChecks() {
    // Any change of the marks, however it came, can be undone.
    const std::vector<uint8_t> before = m_stepping ? std::vector<uint8_t>() : m_checkedByFrame;
    const int n = m_frameList.GetCount();
    const size_t room = static_cast<size_t>(std::max(n, 1));
    m_checkedPositions.reset(new (std::nothrow) int[room]);
    m_checkedFrames.reset(new (std::nothrow) int[room]);
    m_checkedCount = 0;
    if (!m_checkedPositions || !m_checkedFrames) {
        m_checkedPositions.reset();
        m_checkedFrames.reset();
        return;
    }
    const FrameListModel& model = *m_frameList.Model();
    for (int i = 0; i < n; ++i) {
        const int frame = model.Frame(i);
        const int check = model.Check(i);
        if (check) {
            m_checkedPositions[static_cast<size_t>(m_checkedCount)] = i;
            m_checkedFrames[static_cast<size_t>(m_checkedCount++)] = frame;
        }
        // The marks are kept by frame, for the next filling of the list and the plot.
        if (frame < 0 || frame >= INT_MAX) continue;
        if (static_cast<size_t>(frame) >= m_checkedByFrame.size()) {
            if (!check) continue;
            m_checkedByFrame.resize(static_cast<size_t>(frame) + 1, 0);
        }
        m_checkedByFrame[static_cast<size_t>(frame)] = static_cast<uint8_t>(check);
    }
    m_checkedLabel->setText(QStringLiteral("%1 checked").arg(m_checkedCount));
    m_plot->SetChecked(m_checkedByFrame);
    if (!m_stepping && !SameMarks(before, m_checkedByFrame)) {
        m_undo.push_back(before);
        if (m_undo.size() > kUndoSteps) m_undo.erase(m_undo.begin());
        m_redo.clear();
    }
}

void SelectVideoFrames::OnFrameListChange() {
    CollectChecks();
    if (!m_checkedPositions) return;
    int caret = m_frameList.GetCaretIndex();
    if (caret >= 0) m_displayedFrame = FrameNumberOf(m_frameList.GetText(caret));
    m_plot->SetCurrentFrame(m_displayedFrame);
    if (m_pView) m_pView->ShowFrame(m_displayedFrame);
    SetStatusText(QString::asprintf("Displaying frame:  %d", m_displayedFrame));
}

void SelectVideoFrames::OnCheckAll() {
    m_frameList.CheckAll();
    OnFrameListChange();
}

void SelectVideoFrames::OnCheckNone() {
    m_frameList.CheckNone();
    OnFrameListChange();
}

void SelectVideoFrames::OnInvertChecks() {
    m_frameList.InvertChecks();
    OnFrameListChange();
}

void SelectVideoFrames::OnPlotClicked(int frame) {
    const FrameListModel& model = *m_frameList.Model();
    for (int i = 0; i < model.rowCount(); ++i) {
        if (model.Frame(i) != frame) continue;
        const QModelIndex item = model.index(i);
        m_frameList.setCurrentIndex(item);
        m_frameList.scrollTo(item);
        OnFrameListChange();
        return;
    }
}

void SelectVideoFrames::OnPlotRange(int first, int last) {
    FrameListModel& model = *m_frameList.Model();
    model.SetChecks(0, model.rowCount() - 1, [&](int row, uint8_t old) {
        const int frame = model.Frame(row);
        return old || (frame >= first && frame <= last);
    });
    OnFrameListChange();
}

void SelectVideoFrames::CaretToFrame(int frame) {
    const FrameListModel& model = *m_frameList.Model();
    if (model.rowCount() == 0) return;
    int row = 0;
    for (int i = 0; i < model.rowCount(); ++i) {
        if (model.Frame(i) == frame) {
            row = i;
            break;
        }
    }
    const QModelIndex item = model.index(row);
    m_frameList.setCurrentIndex(item);
    m_frameList.scrollTo(item);
    m_displayedFrame = model.Frame(row);
    m_plot->SetCurrentFrame(m_displayedFrame);
    SetStatusText(QString::asprintf("Displaying frame:  %d", m_displayedFrame));
}

void SelectVideoFrames::OnNormal() {
    m_orderReset = 0;
    if (m_pView) m_pView->OrderOriginal();
    FillFrameList();
    CaretToFrame(0);
    if (!m_orderReset) setWindowTitle(QString::fromLatin1(kCaptionOriginal));
    m_orderCaption = windowTitle();
    m_orderReset = 0;
    m_viewButton.setChecked(false);
    if (m_pView) m_pView->QualityPreview(false);
}

void SelectVideoFrames::OnSort() {
    m_orderReset = 0;
    // The frame the view shows afterwards: the best one, or after a terminated sort the one it showed before.
    const int shown = m_pView ? m_pView->SortFrames() : -1;
    FillFrameList();
    CaretToFrame(shown);
    // Picks made on other scores no longer stand.
    if (!m_orderReset) m_plot->SetPicks({});
    ShowOrderCaption();
    m_orderReset = 0;
    RefreshScores();
    m_viewButton.setChecked(false);
    if (m_pView) m_pView->QualityPreview(false);
}

void SelectVideoFrames::ShowOrderCaption() {
    // A terminated sort left the order as it was, and its caption with it.
    if (m_orderReset) return;
    setWindowTitle(QString::fromLatin1(Score() == ScoreKind::Sharpness        ? kCaptionSortedSharpness
                                       : Score() == ScoreKind::LocalSharpness ? kCaptionSortedLocal
                                                                              : kCaptionSorted));
    m_orderCaption = windowTitle();
}

void SelectVideoFrames::ShowScoreChoice() {
    const bool sharpness = IsSharpnessKind(Score());
    m_sortGroup->setTitle(Score() == ScoreKind::LocalSharpness
                              ? QStringLiteral("Apply \"Local sharpness\" frame sorting algorithm")
                          : sharpness ? QStringLiteral("Apply \"Sharpness\" frame sorting algorithm")
                                      : QStringLiteral("Apply \"JPEG-size\" frame sorting algorithm"));
    // The quality counts for the JPEG size only.
    m_qualitySpin->setEnabled(!sharpness);
    m_qualityLabel->setEnabled(!sharpness);
}

void SelectVideoFrames::OnView() {
    if (m_pView) m_pView->QualityPreview(m_viewButton.isChecked());
}

void SelectVideoFrames::OnQualityDeltaPos(int position, int delta) {
    // Stored unclamped: a step beyond an end gives 0 or 101, which the encoder takes as 1 or 100.
    m_quality = position + delta;
    m_viewButton.setChecked(true);
    if (m_pView) m_pView->QualityPreview(true);
}

void SelectVideoFrames::OnQualityEntered(bool returnKey) {
    const int value = m_qualitySpin->value();
    // Leaving the field after stepping (the stored quality may then lie just outside the field's range)
    // or without typing changes nothing.
    if (!returnKey && value == qBound(1, m_quality, 100)) return;
    m_quality = value;
    m_viewButton.setChecked(true);
    if (m_pView) m_pView->QualityPreview(true);
}

void SelectVideoFrames::OnSaveDisplayedFrame() {
    if (m_pView) m_pView->SaveDisplayedFrame(m_displayedFrame);
}

void SelectVideoFrames::OnCreateAvi() {
    if (m_checkedCount == 0) {
        AppFramework().MessageBox(this, QStringLiteral("No frames were checked."), QStringLiteral("Information"),
                                  MB_OK);
        return;
    }
    if (m_pView)
        m_pView->ExportChecked(std::vector<int32_t>(m_checkedFrames.get(), m_checkedFrames.get() + m_checkedCount));
}

void SelectVideoFrames::OnCheckBest() {
    CheckBestDialog dialog(this, LoadPickSettings());
    if (AppFramework().DoModal(&dialog) != QDialog::Accepted) return;
    const PickSettings settings = dialog.Settings();
    StorePickSettings(settings);
    std::vector<int32_t> frames;
    // A sharpness order's keys hold positions, so only the whole order tells whether a sort changed it.
    const std::vector<std::string> before = m_pFrameOrder ? *m_pFrameOrder : std::vector<std::string>();
    m_orderReset = 0;
    if (m_pView) frames = m_pView->CheckBest(settings);
    // The sort it needed was terminated: nothing was chosen, and the check marks stay as they were.
    if (m_orderReset) {
        m_orderReset = 0;
        return;
    }
    // A sort ran: the list shows the new order.
    if (m_pFrameOrder && *m_pFrameOrder != before) {
        FillFrameList();
        ShowOrderCaption();
    }
    m_orderReset = 0;
    RefreshScores();
    m_plot->SetPicks(frames);
    CheckFrames(frames);
    SetStatusText(QString::asprintf("%zu frames checked: %s", frames.size(), DescribePickRule(settings).c_str()));
}

void SelectVideoFrames::CheckFrames(const std::vector<int32_t>& frames) {
    const std::set<int32_t> wanted(frames.begin(), frames.end());
    FrameListModel& model = *m_frameList.Model();
    model.SetChecks(0, model.rowCount() - 1, [&](int row, uint8_t) { return wanted.count(model.Frame(row)) != 0; });
    OnFrameListChange();
}

void SelectVideoFrames::OnSaveImages() {
    if (m_checkedCount == 0) {
        AppFramework().MessageBox(this, QStringLiteral("No frames were checked."), QStringLiteral("Information"),
                                  MB_OK);
        return;
    }
    const bool boxAvailable = m_pView && m_pView->HasCropBox();
    SaveImagesDialog dialog(this, LoadImageSaveChoices(m_videoPath), boxAvailable);
    if (AppFramework().DoModal(&dialog) != QDialog::Accepted) return;
    const ImageSaveChoices choices = dialog.Choices();
    StoreImageSaveChoices(choices);
    const std::vector<int32_t> frames(m_checkedFrames.get(), m_checkedFrames.get() + m_checkedCount);
    if (m_pView) m_pView->ExportImages(choices, frames);
}
