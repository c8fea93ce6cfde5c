#include "tools/qmtool/run_summary.h"

#include "tools/qmtool/commands.h"

#include <qm_version.h>

#include <cinttypes>
#include <cstdio>

namespace qmtool {

const char* QmVersion() {
    return QM_VERSION_TEXT;
}

void RunSummary::AddFrame(int channel, qm::StoredMs time) {
    ++m_nFrames;
    if (!m_first || time < *m_first) m_first = time;
    if (!m_last || time > *m_last) m_last = time;
    if (channel < 0 || channel >= int(m_lastOfChannel.size())) return;
    auto& previous = m_lastOfChannel[channel];
    if (previous && time - *previous > kReportedGapMs) {
        ++m_nGaps;
        m_llGapMs += time - *previous;
    }
    if (!previous || time > *previous) previous = time;
}

std::string RunSummary::Line() const {
    char text[256];
    std::string line =
        "qmtool: " + std::to_string(m_nFrames) + (m_nFrames == 1 ? " frame" : " frames");
    if (m_first)
        line += ", first " + qm::FormatClock(m_clock, *m_first) + ", last " +
                qm::FormatClock(m_clock, *m_last);
    std::snprintf(text, sizeof text, ", %" PRIu64 " gap%s over 2 s (%.3f s)", m_nGaps,
                  m_nGaps == 1 ? "" : "s", double(m_llGapMs) / 1000.0);
    line += text;
    line += ", " + std::to_string(m_nDamaged) + " damaged frame" + (m_nDamaged == 1 ? "" : "s") +
            " skipped";
    return line;
}

Json RunSummary::TimeJson(qm::StoredMs time) const {
    Json t;
    t["time"] = time / 1000;
    t["ms"] = time % 1000;
    t["clock"] = qm::FormatClock(m_clock, time);
    return t;
}

Json RunSummary::ToJson(const std::string& command) const {
    Json j;
    j["tool"] = "qmtool";
    j["version"] = QmVersion();
    j["command"] = command;
    j["frames"] = m_nFrames;
    j["first"] = m_first ? TimeJson(*m_first) : Json();
    j["last"] = m_last ? TimeJson(*m_last) : Json();
    j["gaps"] = {{"count", m_nGaps}, {"seconds", double(m_llGapMs) / 1000.0}};
    j["damaged_skipped"] = m_nDamaged;
    j["clock"] = m_clock.utc ? "utc" : "player";
    return j;
}

} // namespace qmtool
