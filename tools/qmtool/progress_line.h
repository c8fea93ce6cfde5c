#pragma once
// Long work (an export, a scan) on a thread of its own while stderr, when it
// is a terminal, shows "LABEL: NN%" refreshed every 200 ms; the end of the
// work ends the wait at once rather than at the next refresh.

#include <functional>
#include <string>

namespace qmtool {

// Runs `work` to its end; its results are the caller's to read afterwards.
void RunWithProgressLine(const std::string& label, const std::function<int()>& percent,
                         const std::function<void()>& work);

} // namespace qmtool
