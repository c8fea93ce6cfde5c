#include "export/save_avi_dlg.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

namespace qm {

namespace {

constexpr int kWidth = 400;
constexpr int kHeight = 260;
constexpr int kWholeRecordingHeight = 200;
const QString kPickerFormat = QStringLiteral("yyyy/MM/dd HH:mm:ss");
const QString kAllCamerasText = QStringLiteral("All cameras");

} // namespace

CQMSaveAviDlg::CQMSaveAviDlg(Notice notice, QWidget* parent)
    : QDialog(parent), m_notice(std::move(notice)) {
    setWindowTitle(QStringLiteral("Select a channel to save as AVI..."));
    setFixedSize(kWidth, kHeight);

    auto* channelLabel = new QLabel(QStringLiteral("Channel:"), this);
    channelLabel->setGeometry(20, 16, 60, 24);
    m_pChannels = new QComboBox(this);
    m_pChannels->setObjectName(QStringLiteral("ctl1062"));
    m_pChannels->setGeometry(84, 16, 100, 24);
    m_pAudioOn = new QRadioButton(QStringLiteral("Audio ON"), this);
    m_pAudioOn->setObjectName(QStringLiteral("ctl1063"));
    m_pAudioOn->setGeometry(190, 16, 90, 24);
    m_pAudioOff = new QRadioButton(QStringLiteral("Audio OFF"), this);
    m_pAudioOff->setObjectName(QStringLiteral("ctl1064"));
    m_pAudioOff->setGeometry(290, 16, 100, 24);

    m_pStartLabel = new QLabel(QStringLiteral("Start Time:"), this);
    m_pStartLabel->setObjectName(QStringLiteral("ctl1086"));
    m_pStartLabel->setGeometry(20, 56, 80, 24);
    m_pStart = new QDateTimeEdit(this);
    m_pStart->setObjectName(QStringLiteral("ctl1089"));
    m_pStart->setGeometry(110, 56, 200, 24);
    m_pEndLabel = new QLabel(QStringLiteral("End Time:"), this);
    m_pEndLabel->setObjectName(QStringLiteral("ctl1088"));
    m_pEndLabel->setGeometry(20, 92, 80, 24);
    m_pEnd = new QDateTimeEdit(this);
    m_pEnd->setObjectName(QStringLiteral("ctl1091"));
    m_pEnd->setGeometry(110, 92, 200, 24);
    for (QDateTimeEdit* picker : {m_pStart, m_pEnd}) {
        picker->setTimeSpec(Qt::LocalTime);
        picker->setDisplayFormat(kPickerFormat);
    }

    m_pProgress = new QProgressBar(this);
    m_pProgress->setObjectName(QStringLiteral("ctl1081"));
    m_pProgress->setGeometry(50, 140, 300, 20);
    m_pProgress->setRange(0, 100);
    m_pProgress->setValue(0);
    m_pProgress->setStyleSheet(
        QStringLiteral("QProgressBar::chunk { background-color: rgb(0, 180, 0); }"));

    m_pStartButton = new QPushButton(QStringLiteral("Start"), this);
    m_pStartButton->setObjectName(QStringLiteral("ctl1102"));
    m_pStartButton->setGeometry(75, 190, 110, 30);
    m_pStartButton->setAutoDefault(false);
    m_pCancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_pCancel->setObjectName(QStringLiteral("ctl2"));
    m_pCancel->setGeometry(210, 190, 110, 30);
    m_pCancel->setAutoDefault(false);
    connect(m_pStartButton, &QPushButton::clicked, this, [this] { OnStart(); });
    connect(m_pCancel, &QPushButton::clicked, this, [this] { OnCancelButton(); });

    // Stands in for the progress thread: the bar follows the job's percentage.
    m_pProgressTimer = new QTimer(this);
    m_pProgressTimer->setInterval(100);
    connect(m_pProgressTimer, &QTimer::timeout, this, [this] { UpdateProgress(); });
}

CQMSaveAviDlg::~CQMSaveAviDlg() = default;

void CQMSaveAviDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    OnInitDialog();
}

void CQMSaveAviDlg::OnInitDialog() {
    m_pChannels->clear();
    for (int c = 0; c < 32; ++c)
        if ((channelMask >> c) & 1u) m_pChannels->addItem(QString::asprintf("%d", c + 1), c);
    if (m_pChannels->count() > 1) m_pChannels->addItem(kAllCamerasText, kAllCameras);

    const bool whole = wholeRecording == 1;
    for (QWidget* w : {static_cast<QWidget*>(m_pStartLabel), static_cast<QWidget*>(m_pEndLabel),
                       static_cast<QWidget*>(m_pStart), static_cast<QWidget*>(m_pEnd)})
        w->setVisible(!whole);
    if (whole) {
        m_pProgress->move(50, 80);
        m_pStartButton->move(75, 120);
        m_pCancel->move(210, 120);
        setFixedSize(kWidth, kWholeRecordingHeight);
    } else {
        m_pProgress->move(50, 140);
        m_pStartButton->move(75, 190);
        m_pCancel->move(210, 190);
        setFixedSize(kWidth, kHeight);
        m_pStart->setDateTime(QDateTime::fromSecsSinceEpoch(rangeFirst, Qt::LocalTime));
        m_pEnd->setDateTime(QDateTime::fromSecsSinceEpoch(rangeLast, Qt::LocalTime));
    }
    if (m_pChannels->count() > 0) m_pChannels->setCurrentIndex(0);
    m_pAudioOn->setChecked(true);
}

void CQMSaveAviDlg::OnStart() {
    if (wholeRecording == 0) {
        chosenStart = m_pStart->dateTime().toSecsSinceEpoch();
        chosenEnd = m_pEnd->dateTime().toSecsSinceEpoch();
        const char* problem = nullptr;
        if (chosenStart < rangeFirst || chosenStart > rangeLast)
            problem = "Invalid start time";
        else if (chosenEnd < rangeFirst || chosenEnd > rangeLast)
            problem = "Invalid end time";
        else if (chosenStart >= chosenEnd)
            problem = "Start time must bigger then end time.";
        else if (chosenEnd - chosenStart > kMaxDurationSeconds)
            problem = "Maximum duration is 60 minutes.";
        if (problem) {
            if (m_notice) m_notice(this, QString::fromLatin1(problem));
            return;
        }
    }
    cancelRequested = 0;
    selectedIndex = m_pChannels->currentIndex();
    if (selectedIndex < 0) return; // nothing to export
    exportChannel = m_pChannels->itemData(selectedIndex).toInt();
    withAudio = m_pAudioOn->isChecked() ? 1 : 0;
    emit saveAviRequested(exportChannel);
}

void CQMSaveAviDlg::OnCancelButton() {
    reject();
}

void CQMSaveAviDlg::reject() {
    cancelRequested = 1;
    QDialog::reject();
}

void CQMSaveAviDlg::SetProgressSource(std::function<int()> source) {
    m_progressSource = std::move(source);
    if (m_progressSource) {
        m_pProgressTimer->start();
        UpdateProgress();
    } else {
        UpdateProgress();
        m_pProgressTimer->stop();
    }
}

void CQMSaveAviDlg::UpdateProgress() {
    if (!m_progressSource) return;
    // The bar keeps its last position while a segment starts without a new value.
    const int percent = m_progressSource();
    if (percent >= 0 && percent <= 100) m_pProgress->setValue(percent);
}

} // namespace qm
