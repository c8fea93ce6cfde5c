#pragma once
// What a command produced, said the same way by every command: one line on
// stderr at the end, and with --json the same facts as one JSON object.
// Frames delivered, the first and last frame time, the gaps of more than
// 2 s within each camera, and the damaged frames that were skipped.

#include "platform/recorded_time.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace qmtool {

using Json = nlohmann::ordered_json;

// One line of JSON; bytes that are not UTF-8 (a file name, say) are replaced
// rather than failing the output.
inline std::string Dump(const Json& j) {
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

constexpr int64_t kReportedGapMs = 2000;

class RunSummary {
public:
    explicit RunSummary(qm::ClockView clock) : m_clock(clock) {}

    // A frame the command delivered (listed, decoded, written).
    void AddFrame(int channel, qm::StoredMs time);
    void AddDamaged(uint64_t frames) { m_nDamaged += frames; }

    uint64_t Frames() const { return m_nFrames; }
    uint64_t Damaged() const { return m_nDamaged; }
    std::optional<qm::StoredMs> First() const { return m_first; }
    std::optional<qm::StoredMs> Last() const { return m_last; }
    uint64_t GapCount() const { return m_nGaps; }
    int64_t GapMs() const { return m_llGapMs; }

    // "qmtool: 3000 frames, first ..., last ..., 1 gap over 2 s (75.000 s),
    // 0 damaged frames skipped"
    std::string Line() const;
    // {"tool", "version", "command", "frames", "first", "last", "gaps", "damaged_skipped"}
    Json ToJson(const std::string& command) const;
    // A stored time as JSON: epoch seconds and milliseconds as stored, and
    // the text on the command's clock.
    Json TimeJson(qm::StoredMs time) const;

    // 0, or 3 with --strict when damaged frames were skipped.
    int ExitStatus(bool strict) const { return strict && m_nDamaged ? 3 : 0; }

private:
    qm::ClockView m_clock;
    uint64_t m_nFrames = 0;
    uint64_t m_nDamaged = 0;
    uint64_t m_nGaps = 0;
    int64_t m_llGapMs = 0;
    std::optional<qm::StoredMs> m_first, m_last;
    std::array<std::optional<qm::StoredMs>, 32> m_lastOfChannel{};
};

} // namespace qmtool
