#include "dialogs/SelectVideoFrames.h"

#include <QGroupBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSpinBox>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <new>
#include <set>

#include "dialogs/PickDialogs.h"
#include "framework/DialogUnits.h"
#include "framework/Framework.h"

// The quality control: digits in a read-only field with arrows at its right. Every step, also one that
// would leave the range, is announced before the value moves, with the position and the step.
class QualitySpinBox : public QSpinBox {
public:
    explicit QualitySpinBox(QWidget* parent) : QSpinBox(parent) {
        lineEdit()->setReadOnly(true);
        setButtonSymbols(QAbstractSpinBox::UpDownArrows);
        setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        setGroupSeparatorShown(false);
        setAccelerated(false);
    }

    std::function<void(int position, int delta)> onDeltaPos;

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
};

namespace {

const char* const kCaption = "Video Frame Selector";
const char* const kCaptionOriginal = "Video Frame Selector - Frames in original order.";
const char* const kCaptionSorted = "Video Frame Selector - Sorted by 'JPEG size'.";

// Layout of the dialog in dialog units: x, y, width, height.
struct Place {
    int x, y, w, h;
};
constexpr Place kDialogSize{0, 0, 209, 313};
constexpr Place kListPlace{7, 7, 195, 142};
constexpr Place kSortGroup{7, 157, 195, 34};
constexpr Place kNormal{14, 170, 32, 14};
constexpr Place kSort{53, 169, 32, 14};
constexpr Place kQualityEdit{93, 170, 30, 14};  // the arrows sit inside its right end
constexpr Place kQualityLabel{124, 168, 37, 17};
constexpr Place kStatus{17, 194, 170, 21};
constexpr Place kSaveBmp{17, 219, 170, 14};
constexpr Place kCreateAvi{17, 237, 170, 14};
constexpr Place kCheckBest{17, 255, 170, 14};
constexpr Place kSaveImages{17, 273, 170, 14};
constexpr Place kClose{79, 292, 50, 14};
constexpr Place kView{163, 169, 32, 14};

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

SelectVideoFrames::SelectVideoFrames(QWidget* parent, MessageReceiver* receiver,
                                     const std::vector<std::string>* frameOrder)
    : QDialog(parent), m_pFrameOrder(frameOrder), m_pView(receiver), m_frameList(this), m_viewButton(this) {
    setObjectName(QStringLiteral("SelectVideoFrames"));
    setWindowTitle(QString::fromLatin1(kCaption));
    // A caption with a close box and a fixed frame; no help button.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setModal(true);

    DialogUnits du(fontMetrics());
    setFixedSize(du.X(kDialogSize.w), du.Y(kDialogSize.h));

    // Only marks where the check-list goes.
    m_listPlace = new QWidget(this);
    SetControlId(m_listPlace, IDC_LIST_PLACE, "IDC_LIST_PLACE");
    m_listPlace->setGeometry(ToPixels(du, kListPlace));
    m_listPlace->hide();

    // Made now, placed and shown at every opening.
    SetControlId(&m_frameList, IDC_FRAME_LIST, "IDC_FRAME_LIST");
    m_frameList.hide();

    m_sortGroup = new QGroupBox(QStringLiteral("Apply \"JPEG-size\" frame sorting algorithm"), this);
    m_sortGroup->setObjectName(QStringLiteral("IDC_SORT_GROUP"));
    m_sortGroup->setGeometry(ToPixels(du, kSortGroup));

    m_normalButton = MakeButton(this, "Normal", IDC_NORMAL, "IDC_NORMAL", ToPixels(du, kNormal));

    m_sortButton = MakeButton(this, "Sort", IDC_SORT, "IDC_SORT", ToPixels(du, kSort));

    m_qualitySpin = new QualitySpinBox(this);
    SetControlId(m_qualitySpin, IDC_SPIN, "IDC_SPIN");
    m_qualitySpin->setGeometry(ToPixels(du, kQualityEdit));
    m_qualitySpin->setRange(1, 100);
    m_qualitySpin->setValue(25);
    m_qualitySpin->Edit()->setObjectName(QStringLiteral("IDC_QUALITY"));
    m_qualitySpin->Edit()->setProperty("controlId", static_cast<int>(IDC_QUALITY));

    m_qualityLabel = new QLabel(QStringLiteral("Adjust sort\nquality"), this);
    m_qualityLabel->setObjectName(QStringLiteral("IDC_QUALITY_LABEL"));
    m_qualityLabel->setGeometry(ToPixels(du, kQualityLabel));
    m_qualityLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    m_viewButton.setText(QStringLiteral("View"));
    SetControlId(&m_viewButton, IDC_VIEW, "IDC_VIEW");
    m_viewButton.setCheckable(true);
    m_viewButton.setAutoDefault(false);
    m_viewButton.setGeometry(ToPixels(du, kView));

    m_statusText = new QLabel(this);
    SetControlId(m_statusText, IDC_STATUS, "IDC_STATUS");
    m_statusText->setGeometry(ToPixels(du, kStatus));
    m_statusText->setFrameStyle(QFrame::Box | QFrame::Plain);
    m_statusText->setLineWidth(1);
    m_statusText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_statusText->setTextFormat(Qt::PlainText);
    m_statusText->setWordWrap(true);
    m_statusText->setMargin(1);

    m_saveButton = MakeButton(this, "Save displayed frame as a bmp file", IDC_SAVE_BMP, "IDC_SAVE_BMP",
                              ToPixels(du, kSaveBmp));

    m_createButton = MakeButton(this, "Create AVI video file from checked frames", IDC_CREATE_AVI, "IDC_CREATE_AVI",
                                ToPixels(du, kCreateAvi));

    m_checkBestButton = MakeButton(this, "Check best...", IDC_CHECK_BEST, "IDC_CHECK_BEST", ToPixels(du, kCheckBest));
    m_saveImagesButton = MakeButton(this, "Save checked frames as images...", IDC_SAVE_IMAGES, "IDC_SAVE_IMAGES",
                                    ToPixels(du, kSaveImages));

    m_closeButton = new QPushButton(QStringLiteral("Close"), this);
    SetControlId(m_closeButton, IDOK_CLOSE, "IDOK");
    m_closeButton->setGeometry(ToPixels(du, kClose));
    m_closeButton->setDefault(true);

    // Keyboard order: the list, the sort controls from left to right, the outputs, Close.
    setTabOrder(&m_frameList, m_normalButton);
    setTabOrder(m_normalButton, m_sortButton);
    setTabOrder(m_sortButton, m_qualitySpin);
    setTabOrder(m_qualitySpin, &m_viewButton);
    setTabOrder(&m_viewButton, m_saveButton);
    setTabOrder(m_saveButton, m_createButton);
    setTabOrder(m_createButton, m_checkBestButton);
    setTabOrder(m_checkBestButton, m_saveImagesButton);
    setTabOrder(m_saveImagesButton, m_closeButton);

    connect(&m_frameList, &myCheckListBox::selectionChange, this, &SelectVideoFrames::OnFrameListChange);
    connect(&m_frameList, &myCheckListBox::checkChange, this, &SelectVideoFrames::OnFrameListChange);
    connect(m_normalButton, &QPushButton::clicked, this, &SelectVideoFrames::OnNormal);
    connect(m_sortButton, &QPushButton::clicked, this, &SelectVideoFrames::OnSort);
    connect(&m_viewButton, &QPushButton::clicked, this, &SelectVideoFrames::OnView);
    m_qualitySpin->onDeltaPos = [this](int position, int delta) { OnQualityDeltaPos(position, delta); };
    connect(m_saveButton, &QPushButton::clicked, this, &SelectVideoFrames::OnSaveDisplayedFrame);
    connect(m_createButton, &QPushButton::clicked, this, &SelectVideoFrames::OnCreateAvi);
    connect(m_checkBestButton, &QPushButton::clicked, this, &SelectVideoFrames::OnCheckBest);
    connect(m_saveImagesButton, &QPushButton::clicked, this, &SelectVideoFrames::OnSaveImages);
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::accept);
}

SelectVideoFrames::~SelectVideoFrames() = default;

QSpinBox* SelectVideoFrames::QualitySpin() const { return m_qualitySpin; }

void SelectVideoFrames::showEvent(QShowEvent* event) {
    // Every opening initialises the dialog afresh; a window coming back from the task bar does not.
    if (!event->spontaneous()) OnInitDialog();
    QDialog::showEvent(event);
}

bool SelectVideoFrames::OnInitDialog() {
    setWindowTitle(QString::fromLatin1(kCaption));
    m_viewButton.setChecked(false);

    m_frameList.setGeometry(m_listPlace->geometry());
    m_frameList.show();
    FillFrameList();

    // The quality kept from the last opening, shown as the encoder will use it.
    m_qualitySpin->setValue(qBound(1, m_quality, 100));

    m_frameList.setFocus(Qt::OtherFocusReason);
    return true;
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
            items.push_back({p, frame});
        }
    }
    m_frameList.AddFrameItems(items);
    m_checkedCount = 0;
    SetStatusText(QString::asprintf("Displaying frame:  %d", m_displayedFrame));
}

int SelectVideoFrames::FrameNumberOf(const QString& text) {
    static const QString kKey = QStringLiteral("Frame Number");
    int at = text.indexOf(kKey);
    if (at < 0) return 0;
    return std::atoi(text.mid(at + kKey.size()).toLatin1().constData());
}

void SelectVideoFrames::OnFrameListChange() {
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
    for (int i = 0; i < n; ++i) {
        if (m_frameList.GetCheck(i)) m_checkedPositions[static_cast<size_t>(m_checkedCount++)] = i;
    }
    for (int k = 0; k < m_checkedCount; ++k)
        m_checkedFrames[static_cast<size_t>(k)] = FrameNumberOf(
            m_frameList.GetText(m_checkedPositions[static_cast<size_t>(k)]));

    int caret = m_frameList.GetCaretIndex();
    if (caret >= 0) m_displayedFrame = FrameNumberOf(m_frameList.GetText(caret));
    Send(UWM_SHOW_FRAME, static_cast<WPARAM>(m_displayedFrame), 0);
    SetStatusText(QString::asprintf("Displaying frame:  %d", m_displayedFrame));
}

void SelectVideoFrames::OnNormal() {
    m_orderReset = 0;
    Send(UWM_ORDER_ORIGINAL, reinterpret_cast<WPARAM>(m_checkedFrames.get()), m_checkedCount);
    FillFrameList();
    if (!m_orderReset) setWindowTitle(QString::fromLatin1(kCaptionOriginal));
    m_orderReset = 0;
    m_viewButton.setChecked(false);
    Send(UWM_QUALITY_PREVIEW, 0, 1);
}

void SelectVideoFrames::OnSort() {
    m_orderReset = 0;
    Send(UWM_SORT_JPEG_SIZE, reinterpret_cast<WPARAM>(m_checkedFrames.get()), m_checkedCount);
    FillFrameList();
    setWindowTitle(QString::fromLatin1(m_orderReset ? kCaptionOriginal : kCaptionSorted));
    m_orderReset = 0;
    m_viewButton.setChecked(false);
    Send(UWM_QUALITY_PREVIEW, 0, 1);
}

void SelectVideoFrames::OnView() { Send(UWM_QUALITY_PREVIEW, m_viewButton.isChecked() ? 1 : 0, 1); }

void SelectVideoFrames::OnQualityDeltaPos(int position, int delta) {
    // Stored unclamped: a step beyond an end gives 0 or 101, which the encoder takes as 1 or 100.
    m_quality = position + delta;
    m_viewButton.setChecked(true);
    Send(UWM_QUALITY_PREVIEW, 1, 1);
}

void SelectVideoFrames::OnSaveDisplayedFrame() {
    Send(UWM_SAVE_DISPLAYED_FRAME, static_cast<WPARAM>(m_displayedFrame), 1);
}

void SelectVideoFrames::OnCreateAvi() {
    if (m_checkedCount == 0) {
        AppFramework().MessageBox(this, QStringLiteral("No frames were checked."), QStringLiteral("Information"),
                                  MB_OK);
        return;
    }
    Send(UWM_EXPORT_CHECKED, reinterpret_cast<WPARAM>(m_checkedFrames.get()), m_checkedCount);
}

void SelectVideoFrames::OnCheckBest() {
    CheckBestDialog dialog(this, LoadPickSettings());
    if (AppFramework().DoModal(&dialog) != QDialog::Accepted) return;
    const PickSettings settings = dialog.Settings();
    StorePickSettings(settings);
    std::vector<int32_t> frames;
    const size_t entries = m_pFrameOrder ? m_pFrameOrder->size() : 0;
    const std::string first = entries ? m_pFrameOrder->front() : std::string();
    m_orderReset = 0;
    Send(UWM_CHECK_BEST, reinterpret_cast<WPARAM>(&settings), reinterpret_cast<LPARAM>(&frames));
    // A sort ran: the list shows the new order.
    if (m_pFrameOrder && (m_pFrameOrder->size() != entries || (entries && m_pFrameOrder->front() != first))) {
        FillFrameList();
        setWindowTitle(QString::fromLatin1(m_orderReset ? kCaptionOriginal : kCaptionSorted));
    }
    m_orderReset = 0;
    CheckFrames(frames);
    SetStatusText(QString::asprintf("%zu frames checked: %s", frames.size(), DescribePickRule(settings).c_str()));
}

void SelectVideoFrames::CheckFrames(const std::vector<int32_t>& frames) {
    const std::set<int32_t> wanted(frames.begin(), frames.end());
    {
        // One update at the end, not one per item.
        const QSignalBlocker blockList(&m_frameList);
        const QSignalBlocker blockModel(m_frameList.model());
        for (int i = 0; i < m_frameList.GetCount(); ++i)
            m_frameList.SetCheck(i, wanted.count(FrameNumberOf(m_frameList.GetText(i))) ? 1 : 0);
    }
    m_frameList.viewport()->update();
    OnFrameListChange();
}

void SelectVideoFrames::OnSaveImages() {
    if (m_checkedCount == 0) {
        AppFramework().MessageBox(this, QStringLiteral("No frames were checked."), QStringLiteral("Information"),
                                  MB_OK);
        return;
    }
    const bool boxAvailable = Send(UWM_EXPORT_IMAGES, 0, 0) != 0;
    SaveImagesDialog dialog(this, LoadImageSaveChoices(), boxAvailable);
    if (AppFramework().DoModal(&dialog) != QDialog::Accepted) return;
    const ImageSaveChoices choices = dialog.Choices();
    StoreImageSaveChoices(choices);
    const std::vector<int32_t> frames(m_checkedFrames.get(), m_checkedFrames.get() + m_checkedCount);
    Send(UWM_EXPORT_IMAGES, reinterpret_cast<WPARAM>(&choices), reinterpret_cast<LPARAM>(&frames));
}

LRESULT SelectVideoFrames::Send(UINT message, WPARAM wParam, LPARAM lParam) {
    return m_pView ? m_pView->SendMessage(message, wParam, lParam) : 0;
}
