#include "export/export_manifest.h"

#include <qm_version.h>

namespace qm {

ExportManifest::ExportManifest(std::string path, ClockView clock)
    : m_path(std::move(path)), m_builder(clock) {}

ExportManifest::~ExportManifest() {
    m_stopHashing = true;
    if (m_sourceHashing.joinable()) m_sourceHashing.join();
}

bool ExportManifest::Attach(SaveAviRequest& request, const std::string& tool,
                            const std::string& command, std::vector<std::string> commandLine,
                            bool wholeSource, std::string& error) {
    m_builder.SetTool(tool, QM_VERSION_TEXT, command, std::move(commandLine));
    m_builder.SetSource(request.sourcePath,
                        request.sourceKind == kExportSourceDisk ? "disk" : "archive");
    if (!m_builder.ChooseSourceHash(wholeSource, error)) return false;
    const std::string format = ExportFormatExtension(request.format);
    request.hooks.onPicture = [this](int channel, const ExportFrame& frame) {
        m_builder.AddPicture(channel, frame);
    };
    request.hooks.onOutputDone = [this, format](const ExportOutputDone& done) {
        m_builder.FinishOutput(done.path, done.channel, format, done.damagedSkipped);
    };
    if (m_builder.WantsSourceReads())
        request.sourceRead = [this](uint64_t offset, ByteView bytes) {
            m_builder.AddSourceRead(offset, bytes);
        };
    else
        // Only the source's hash and size are touched on this thread; the
        // export feeds the other parts of the builder meanwhile.
        m_sourceHashing = std::thread(
            [this] { m_bSourceHashed = m_builder.HashSource(m_sourceError, &m_stopHashing); });
    return true;
}

void ExportManifest::AddFile(const std::string& path, const std::string& format) {
    m_builder.AddFile(path, format);
}

bool ExportManifest::Finish(OutputFiles& outputs, std::string& error) {
    const bool outputsHashed = m_builder.HashOutputs(
        [&](const std::string& path) { return outputs.WrittenPath(path); }, error);
    if (m_sourceHashing.joinable()) {
        m_sourceHashing.join();
        if (outputsHashed && !m_bSourceHashed) {
            error = m_sourceError;
            return false;
        }
    }
    return outputsHashed && m_builder.Write(outputs, m_path, error);
}

} // namespace qm
