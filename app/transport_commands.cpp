// The main window's playback buttons: each command checks the window's
// guards and hands the command to the player, which applies it and announces
// the new state; the window renders that state (status text, button faces).

#include "app/coverage_lanes.h"
#include "app/orbiscope_dlg.h"
#include "app/output_consent.h"
#include "app/recording_texts.h"
#include "app/skin.h"
#include "platform/output_files.h"
#include "player/player_ex.h"
#include "render/image_file.h"
#include <QFile>
#include <QImage>

#include <QApplication>

namespace qm {

namespace {

// The transport buttons' faces for a state.
int SkinStateOf(const PlaybackState& state) {
    switch (state.activity) {
    case Activity::kPlaying:
        return COrbiscopeDlg::kSkinPlaying;
    case Activity::kFastForward:
    case Activity::kFastReverse:
        return COrbiscopeDlg::kSkinFast;
    case Activity::kReversing:
        return COrbiscopeDlg::kSkinReversing;
    case Activity::kStopped:
    case Activity::kPaused:
    case Activity::kStepForward:
    case Activity::kStepReverse:
    case Activity::kEnded:
        return COrbiscopeDlg::kSkinPaused;
    }
    return COrbiscopeDlg::kSkinPaused;
}

} // namespace

void COrbiscopeDlg::SetSkinState(int state) {
    m_nSkinState = state;
    CSkinButton* play = Button(cmd::kPlay);
    CSkinButton* reverse = Button(cmd::kReverse);
    CSkinButton* fastForward = Button(cmd::kFastForward);
    CSkinButton* fastReverse = Button(cmd::kFastReverse);
    play->SetFace(state == kSkinPlaying ? ButtonFace::Pause : ButtonFace::Play);
    play->setToolTip(state == kSkinPlaying ? QStringLiteral("Pause") : QStringLiteral("Play"));
    reverse->SetFace(state == kSkinReversing ? ButtonFace::Pause : ButtonFace::Reverse);
    const bool paused = state == kSkinPaused;
    fastReverse->SetFace(paused ? ButtonFace::StepReverse : ButtonFace::FastReverse);
    fastReverse->setToolTip(paused ? QStringLiteral("Step Reverse")
                                   : QStringLiteral("Fast Reverse"));
    fastForward->SetFace(paused ? ButtonFace::StepForward : ButtonFace::FastForward);
    fastForward->setToolTip(paused ? QStringLiteral("Step Forward")
                                   : QStringLiteral("Fast Forward"));
}

void COrbiscopeDlg::OnPlayerState(const PlaybackState& state) {
    SetStatus(QString::fromStdString(StatusTextOf(state)));
    SetSkinState(SkinStateOf(state));
    SyncCameraButtons();
    if (m_pLanes && state.shownMask != m_pLanes->Cameras()) {
        m_pLanes->SetCameras(state.shownMask);
        LayoutControls();
    }
}

void COrbiscopeDlg::SetSettleLimitMs(int ms) {
    m_pPlayer->SetSettleLimitMs(ms);
}

void COrbiscopeDlg::OnPlay() {
    if (!CanCommand()) return;
    BusyScope busy(*this);
    if (!IsRecordingOpen()) {
        // Play opens the recording named last (the command line's, or the
        // one closed by Stop).
        if (m_strFilePath.isEmpty()) {
            busy.Release();
            m_pPrompts->Notice(this, QStringLiteral("Please open a AVR file first."));
            return;
        }
        const ArchiveOpen result = OpenArchive();
        if (result == ArchiveOpen::kUnreadable || result == ArchiveOpen::kNotAnArchive) {
            CloseRecording();
            busy.Release();
            m_pPrompts->Notice(this, QStringLiteral("Open file error."));
            m_strFilePath.clear();
        }
        return;
    }
    if (m_pPlayer->PlayOrPause() == CQMPlayerEx::Outcome::kFileEnd) {
        busy.Release();
        m_pPrompts->Notice(this, QStringLiteral("File End."));
    }
}

void COrbiscopeDlg::OnReverse() {
    if (!CanCommand()) return;
    BusyScope busy(*this);
    m_pPlayer->ReverseOrPause();
}

void COrbiscopeDlg::OnFastForward() {
    if (!CanCommand()) return;
    BusyScope busy(*this);
    m_pPlayer->Faster();
}

void COrbiscopeDlg::OnFastReverse() {
    if (!CanCommand()) return;
    BusyScope busy(*this);
    m_pPlayer->Slower();
}

void COrbiscopeDlg::OnStepForward() {
    if (!CanCommand()) return;
    BusyScope busy(*this);
    m_pPlayer->StepForward();
    UpdateCurrentFacts();
}

void COrbiscopeDlg::OnStepReverse() {
    if (!CanCommand()) return;
    BusyScope busy(*this);
    m_pPlayer->StepReverse();
    UpdateCurrentFacts();
}

uint32_t COrbiscopeDlg::CurrentTime() const {
    return m_pPlayer->CurrentTime();
}

bool COrbiscopeDlg::IsReverse() const {
    return m_pPlayer->IsReverse();
}

int64_t COrbiscopeDlg::TimeOffset() const {
    return m_pPlayer->Recording().timeOffset;
}

void COrbiscopeDlg::HoldForSeek() {
    m_pPlayer->HoldForSeek();
}

void COrbiscopeDlg::SeekAndPlay(uint32_t time) {
    m_pPlayer->SeekTo(time);
}

std::vector<RecordedSpan> COrbiscopeDlg::RecordedSpans() const {
    // The block lists are built by the open and only read while it lasts,
    // so this thread may read them beside the prefetch thread.
    std::vector<RecordedSpan> spans;
    if (!IsRecordingOpen()) return spans;
    const CQMParseIndex& reader = m_pPlayer->Reader();
    for (int g = 0; g < kMaxGroups; ++g) {
        if (reader.IsDisk()) {
            for (const MiniHeader& mini : reader.DiskBlockList(g))
                spans.push_back({mini.startTime, mini.endTime});
        } else {
            for (const BlockEntry& entry : reader.BlockList(g))
                if (!entry.IsSentinel())
                    spans.push_back({entry.mini.startTime, entry.mini.endTime});
        }
    }
    return spans;
}

void COrbiscopeDlg::OnSaveJpg() {
    if (m_bExporting) return;
    if (!IsRecordingOpen()) {
        m_pPrompts->Notice(this, QStringLiteral("Please open a ARY file first."));
        return;
    }
    if (m_pPlayer->PlayStateNow() != kPlayStatePaused) {
        m_pPrompts->Notice(this, QStringLiteral("Please pause video first."));
        return;
    }
    const QString name = ProposedSnapshotName(m_pPlayer->DisplayMode(), m_pPlayer->Lists().single);
    const QString path = m_pPrompts->SaveFileName(
        this, name,
        QStringLiteral("JPG(*.jpg)|*.jpg|BMP(*.bmp)|*.bmp|PNG(*.png)|*.png|All Files (*.*)|*.*||"),
        QStringLiteral("jpg"));
    if (path.isEmpty()) return;
    OutputFiles outputs;
    if (!AgreeOutputName(*m_pPrompts, this, OpenSourcePath(), path, outputs)) return;
    std::string error;
    if (m_pPlayer->Snapshot(outputs, path, &error)) outputs.Commit(error);
}

void COrbiscopeDlg::OnSavePicture() {
    if (m_bExporting) return;
    if (!IsRecordingOpen()) {
        m_pPrompts->Notice(this, QStringLiteral("Please open a ARY file first."));
        return;
    }
    const int channel = m_pPlayer->SelectedChannel();
    const auto shown = m_pPlayer->ShownFrame(channel);
    QImage picture = m_pPlayer->ShownPicture(channel);
    if (!shown || picture.isNull()) {
        m_pPrompts->Notice(this, QStringLiteral("The selected camera shows no picture yet."));
        return;
    }
    // The record is packed: its fields are copied one by one.
    const uint32_t seconds = shown->time, ms = uint32_t(shown->microseconds) / 1000;
    const int64_t local = int64_t(seconds) + m_pPlayer->Recording().timeOffset;
    const QString path = m_pPrompts->SaveFileName(
        this, ProposedPictureName(channel + 1, local, ms),
        QStringLiteral("PNG(*.png)|*.png|JPG(*.jpg)|*.jpg|BMP(*.bmp)|*.bmp|All Files (*.*)|*.*||"),
        QStringLiteral("png"));
    if (path.isEmpty()) return;
    OutputFiles outputs;
    if (!AgreeOutputName(*m_pPrompts, this, OpenSourcePath(), path, outputs)) return;
    // What the picture is, kept in the file itself (PNG text chunks).
    picture.setText(QStringLiteral("Camera"), QString::number(channel + 1));
    picture.setText(QStringLiteral("Recorded"), FormatRecordedTime(local, ms));
    picture.setText(QStringLiteral("Recorded UTC seconds"),
                    QString::asprintf("%u.%03u", seconds, ms));
    picture.setText(QStringLiteral("Source"), OpenSourcePath());
    picture.setText(QStringLiteral("Software"), QStringLiteral("QMPlayer HD ") + m_strVersion);
    std::string error;
    const QByteArray format = ImageFormatForName(path).value_or(QByteArray("png"));
    if (!WriteImageFile(outputs, picture, QFile::encodeName(path).toStdString(), format, error) ||
        !outputs.Commit(error))
        m_pPrompts->Notice(this, QString::fromStdString(error));
}

} // namespace qm
