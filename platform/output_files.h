#pragma once
// Where a run may write. Every file the programs create (AVI segments, WAV,
// pictures, and whatever writer comes next) is created through the one
// OutputFiles of its run, which
//   - refuses a name that is a source the run reads, however it is reached:
//     the same path, a symbolic link, a hard link (same device and inode),
//     /proc/self/fd/N, or a device node of the same block device;
//   - refuses a name that another output of the same run already uses;
//   - refuses anything that exists and is not a regular file or a link;
//   - refuses a name that exists unless replacing was agreed to, and then
//     writes the new file beside the old one under a temporary name and
//     renames it over the old one only when the run is committed, so a run
//     that fails leaves the old file as it was.
// New files are created exclusively (O_EXCL), so a name that appears between
// the check and the creation is never written through.
// The writers of one run may use it from several threads at once (cameras
// exported side by side).

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace qm {

enum class OutputRefusal {
    kNone,
    kOntoSource, // the name reaches a source of the run
    kTwice,      // another output of the run already uses the name
    kExists,     // the file exists and replacing was not agreed to
    kNotAFile,   // it exists and is a folder, a device, a pipe...
};

class OutputFiles {
public:
    explicit OutputFiles(bool replaceExisting = false) : m_bReplace(replaceExisting) {}
    // Removes what an uncommitted run wrote under temporary names.
    ~OutputFiles();
    OutputFiles(const OutputFiles&) = delete;
    OutputFiles& operator=(const OutputFiles&) = delete;

    void SetReplaceExisting(bool replace) { m_bReplace = replace; }
    bool ReplaceExisting() const { return m_bReplace; }

    // A file or device the run reads: nothing is ever written onto it.
    void AddSource(const std::string& path);

    // Whether `path` may be written, without creating anything.
    OutputRefusal Check(const std::string& path) const;
    // Checks `path` and claims it for this run, so that no other output of
    // the run may use the same file. Claiming the same name again is allowed.
    OutputRefusal Reserve(const std::string& path);

    // Creates `path` for writing ("wb"). nullptr with `error` when the name
    // is refused (RefusalText; errno is then EEXIST) or the file cannot be
    // created (errno says why). The caller closes the stream with fclose.
    FILE* Create(const std::string& path, std::string& error);

    // Moves every replacement into place (after flushing it to the disk).
    // Call once, when the run has succeeded; false with `error` when a
    // rename failed.
    bool Commit(std::string& error);
    // Removes the replacements that were not committed.
    void Abandon();

    // Where the bytes of `path`, created by this run, are until the run is
    // committed: a replacement's temporary name, otherwise `path` itself.
    std::string WrittenPath(const std::string& path) const;

    // The names created so far, in order; once no writer is running.
    const std::vector<std::string>& Created() const { return m_created; }

private:
    struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
        dev_t rdev = 0; // block devices: the device itself
        bool block = false;
    };
    struct Pending {
        std::string temporary;
        std::string final;
    };
    bool SameAsSource(const Identity& id, const std::string& canonical) const;
    OutputRefusal Examine(const std::string& path, std::string* canonical, Identity* existing,
                          bool* exists) const;

    // Create reserves, the destructor abandons: the lock is taken again
    // within the same call.
    mutable std::recursive_mutex m_lock;
    bool m_bReplace = false;
    // A name this run writes: its folder resolved, and the file it reaches
    // once that exists (the old file until a replacement is created).
    struct Claim {
        std::string canonical;
        Identity id;
        bool hasId = false;
        bool created = false;
    };
    std::vector<Identity> m_sourceIds;
    std::vector<std::string> m_sourceNames; // canonical paths
    std::vector<Claim> m_claims;
    std::vector<Pending> m_pending;
    std::vector<std::string> m_created;
};

// A one-line reason for a refusal: "refusing to write onto the source: PATH",
// "PATH exists; use --force to replace it"... `replaceHint` is the option
// named in the "exists" text; empty leaves the hint out.
std::string RefusalText(OutputRefusal refusal, const std::string& path,
                        const std::string& replaceHint = "--force");

} // namespace qm
