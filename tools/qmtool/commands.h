#pragma once
// The qmtool commands. Each returns the process exit status: 0 success,
// 1 failure (after a one-line message on stderr), 2 usage error, 3 with
// --strict when the output was produced but damaged frames were skipped.

#include "tools/qmtool/cli_args.h"

namespace qmtool {

int RunInfo(const ParsedArgs& args);
int RunFrames(const ParsedArgs& args);
int RunDecode(const ParsedArgs& args);
int RunSnapshot(const ParsedArgs& args);
int RunDisks(const ParsedArgs& args);
int RunExport(const ParsedArgs& args);
int RunVerify(const ParsedArgs& args);
int RunRecover(const ParsedArgs& args);

int Fail(const std::string& message);
int UsageError(const std::string& message);

// "1.0.0.1"
const char* QmVersion();

} // namespace qmtool
