#pragma once
// The qmtool commands. Each returns the process exit status: 0 success,
// 1 failure (after a one-line message on stderr), 2 usage error.

#include "tools/qmtool/cli_args.h"

namespace qmtool {

int RunInfo(const ParsedArgs& args);
int RunFrames(const ParsedArgs& args);
int RunDecode(const ParsedArgs& args);
int RunSnapshot(const ParsedArgs& args);
int RunDisks(const ParsedArgs& args);
int RunExport(const ParsedArgs& args);

int Fail(const std::string& message);
int UsageError(const std::string& message);

} // namespace qmtool
