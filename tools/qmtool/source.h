#pragma once
// Opening a SOURCE for qmtool the way the player does: an archive after its
// header's magic has been checked, a disk image or a block device as a DVR
// disk, through the storage reader. And the clock its times are shown on.

#include "platform/output_files.h"
#include "platform/recorded_time.h"
#include "storage/parse_index.h"
#include "tools/qmtool/cli_args.h"

#include <optional>
#include <string>
#include <vector>

namespace qmtool {

// Opens `path` into `reader`. On failure returns false with a one-line message.
bool OpenSource(const std::string& path, qm::CQMParseIndex& reader, std::string& error);

// A refusal text when one of `names` (empty ones aside) reaches the source
// or another of them: said first, whatever else is wrong with the name.
std::optional<std::string> RefuseOntoSource(qm::OutputFiles& outputs,
                                            const std::vector<std::string>& names);

// The player's clock for the open recording, or the stored values with --utc.
qm::ClockView ClockOf(const qm::CQMParseIndex& reader, const ParsedArgs& args);

// Reads the time option `name`, when given, as far as it can be read before
// the recording is known. False with a usage message when it is malformed.
bool ReadTimeOption(const ParsedArgs& args, const std::string& name,
                    std::optional<qm::ClockArgument>& out, std::string& error);

// The stored time a time option names for a recording starting at `start`;
// false with a message when that moment does not exist.
bool ResolveTimeOption(const std::string& name, const qm::ClockArgument& argument,
                       const qm::ClockView& clock, qm::StoredMs start, qm::StoredMs& out,
                       std::string& error);

} // namespace qmtool
