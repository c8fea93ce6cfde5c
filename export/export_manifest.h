#pragma once
// An export's manifest from start to finish, for qmtool and the player alike:
// attached to the request before the run (it hears of every picture, every
// finished file and, for a large source, every piece read), and written
// through the run's outputs after it, so that it is committed together with
// the files it vouches for.

#include "export/manifest.h"
#include "export/save_avi_job.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace qm {

class ExportManifest {
public:
    // `path` is where the manifest goes; `clock` is how its times read.
    ExportManifest(std::string path, ClockView clock);
    ~ExportManifest();
    ExportManifest(const ExportManifest&) = delete;
    ExportManifest& operator=(const ExportManifest&) = delete;

    // Before the run: who exports and how, the source as the request names
    // it, and whether the source is hashed whole (see
    // ManifestBuilder::ChooseSourceHash). Sets the request's hooks and
    // source reads. A source hashed whole is hashed from now on, beside the
    // export. False with a message when the source cannot be examined.
    bool Attach(SaveAviRequest& request, const std::string& tool, const std::string& command,
                std::vector<std::string> commandLine, bool wholeSource, std::string& error);
    // A file of the run without pictures (the sound as WAV).
    void AddFile(const std::string& path, const std::string& format);
    // After a successful run, before the outputs are committed: hashes the
    // outputs and the source and writes the manifest. False with a message.
    bool Finish(OutputFiles& outputs, std::string& error);

    // The source was read through a scan for its blocks (a damaged index).
    void SetSourceRecovered(uint32_t blocks) { m_builder.SetSourceRecovered(blocks); }

    const std::string& Path() const { return m_path; }
    const ManifestBuilder& Builder() const { return m_builder; }

private:
    std::string m_path;
    ManifestBuilder m_builder;
    std::thread m_sourceHashing;            // the whole source, while the export runs
    std::atomic<bool> m_stopHashing{false}; // a run that ends without Finish
    bool m_bSourceHashed = false;
    std::string m_sourceError;
};

} // namespace qm
