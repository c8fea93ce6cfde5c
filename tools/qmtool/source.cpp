#include "tools/qmtool/source.h"

#include "storage/source_kind.h"

#include <cstdio>
#include <sys/stat.h>

namespace qmtool {

bool OpenSource(const std::string& path, qm::CQMParseIndex& reader, std::string& error) {
    std::string why;
    switch (qm::ClassifySource(path, &why)) {
    case qm::SourceKind::kArchive:
        if (!reader.OpenFile(path)) {
            error = path + ": Unknow file format, please check file or download new Player.";
            return false;
        }
        if (reader.m_bRecovered)
            std::fprintf(stderr, "qmtool: index damaged: %u blocks found by scanning\n",
                         reader.m_nRecoveredBlocks);
        return true;
    case qm::SourceKind::kDiskImage:
    case qm::SourceKind::kBlockDevice:
        if (!reader.OpenDiskPath(path)) {
            error = path + ": NO video in Hard Drive (" + reader.OpenError() + ")";
            return false;
        }
        if (reader.m_bRecovered)
            std::fprintf(stderr, "qmtool: index damaged: %u blocks found by scanning\n",
                         reader.m_nRecoveredBlocks);
        return true;
    case qm::SourceKind::kUnknown:
        break;
    }
    // A file that is there but is no recording gets the player's message.
    struct stat st {};
    const bool regular = ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    error = path + ": " + (regular ? std::string("Check file format error.") : why);
    return false;
}

std::optional<std::string> RefuseOntoSource(qm::OutputFiles& outputs,
                                            const std::vector<std::string>& names) {
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i].empty()) continue;
        if (outputs.Check(names[i]) == qm::OutputRefusal::kOntoSource)
            return qm::RefusalText(qm::OutputRefusal::kOntoSource, names[i]);
        // Two names of this run for one file.
        for (size_t j = 0; j < i; ++j) {
            qm::OutputFiles pair;
            if (names[j].empty()) continue;
            pair.AddSource(names[j]);
            if (pair.Check(names[i]) == qm::OutputRefusal::kOntoSource)
                return qm::RefusalText(qm::OutputRefusal::kTwice, names[i]);
        }
    }
    return std::nullopt;
}

qm::ClockView ClockOf(const qm::CQMParseIndex& reader, const ParsedArgs& args) {
    return qm::ClockView{reader.m_nTimeOffset, args.has("--utc")};
}

bool ReadTimeOption(const ParsedArgs& args, const std::string& name,
                    std::optional<qm::ClockArgument>& out, std::string& error) {
    out.reset();
    const auto text = args.value(name);
    if (!text) return true;
    out = qm::ParseClockArgument(*text);
    if (out) return true;
    error = name + " takes " + kTimeForms + ", not \"" + *text + "\"";
    return false;
}

bool ResolveTimeOption(const std::string& name, const qm::ClockArgument& argument,
                       const qm::ClockView& clock, qm::StoredMs start, qm::StoredMs& out,
                       std::string& error) {
    const auto stored = qm::ResolveClock(argument, clock, start);
    if (!stored) {
        error = "the time of " + name + " does not exist on this computer's clock";
        return false;
    }
    out = *stored;
    return true;
}

} // namespace qmtool
