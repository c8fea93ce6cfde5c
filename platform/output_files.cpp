#include "platform/output_files.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

namespace {

struct SplitName {
    std::string folder;
    std::string base;
};

SplitName Split(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    if (slash == 0) return {"/", path.substr(1)};
    return {path.substr(0, slash), path.substr(slash + 1)};
}

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

// The directory entry `path` names, with its folder resolved; empty when the
// folder cannot be resolved.
std::string CanonicalEntry(const std::string& path) {
    const SplitName name = Split(path);
    const std::string folder = RealPath(name.folder);
    if (folder.empty()) return {};
    return folder == "/" ? "/" + name.base : folder + "/" + name.base;
}

std::atomic<unsigned> g_temporaryCounter{0};

} // namespace

OutputFiles::~OutputFiles() {
    Abandon();
}

void OutputFiles::AddSource(const std::string& path) {
    std::lock_guard lock(m_lock);
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        Identity id;
        id.device = st.st_dev;
        id.inode = st.st_ino;
        id.block = S_ISBLK(st.st_mode);
        id.rdev = st.st_rdev;
        m_sourceIds.push_back(id);
    }
    std::string canonical = RealPath(path);
    if (canonical.empty()) canonical = CanonicalEntry(path);
    if (!canonical.empty()) m_sourceNames.push_back(canonical);
}

bool OutputFiles::SameAsSource(const Identity& id, const std::string& canonical) const {
    for (const Identity& source : m_sourceIds) {
        if (source.device == id.device && source.inode == id.inode) return true;
        if (source.block && id.block && source.rdev == id.rdev) return true;
    }
    for (const std::string& name : m_sourceNames)
        if (!canonical.empty() && name == canonical) return true;
    return false;
}

OutputRefusal OutputFiles::Examine(const std::string& path, std::string* canonicalOut,
                                   Identity* existing, bool* existsOut) const {
    const SplitName name = Split(path);
    if (name.base.empty() || name.base == "." || name.base == "..") return OutputRefusal::kNotAFile;
    // A folder that cannot be resolved is left to the creation to report.
    std::string entry = CanonicalEntry(path);
    if (entry.empty()) entry = path;
    if (canonicalOut) *canonicalOut = entry;

    struct stat link {};
    const bool exists = ::lstat(path.c_str(), &link) == 0;
    if (existsOut) *existsOut = exists;
    if (!exists) {
        // A new name can only be a source or another output by its name.
        if (SameAsSource(Identity{}, entry)) return OutputRefusal::kOntoSource;
        for (const Claim& claim : m_claims)
            if (claim.created && claim.canonical == entry) return OutputRefusal::kTwice;
        return OutputRefusal::kNone;
    }

    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        // A dangling link: replacing it replaces the link, never its target.
        for (const Claim& claim : m_claims)
            if (claim.created && claim.canonical == entry) return OutputRefusal::kTwice;
        return m_bReplace ? OutputRefusal::kNone : OutputRefusal::kExists;
    }
    Identity id;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.block = S_ISBLK(st.st_mode);
    id.rdev = st.st_rdev;
    if (existing) *existing = id;
    if (SameAsSource(id, RealPath(path)) || SameAsSource(id, entry))
        return OutputRefusal::kOntoSource;
    for (const Claim& claim : m_claims) {
        if (claim.canonical == entry) {
            if (claim.created) return OutputRefusal::kTwice;
            continue; // the same name claimed again
        }
        if (claim.hasId && claim.id.device == id.device && claim.id.inode == id.inode)
            return OutputRefusal::kTwice;
    }
    if (!S_ISREG(st.st_mode)) return OutputRefusal::kNotAFile;
    return m_bReplace ? OutputRefusal::kNone : OutputRefusal::kExists;
}

OutputRefusal OutputFiles::Check(const std::string& path) const {
    std::lock_guard lock(m_lock);
    return Examine(path, nullptr, nullptr, nullptr);
}

OutputRefusal OutputFiles::Reserve(const std::string& path) {
    std::lock_guard lock(m_lock);
    std::string canonical;
    Identity id;
    bool exists = false;
    const OutputRefusal refusal = Examine(path, &canonical, &id, &exists);
    if (refusal != OutputRefusal::kNone) return refusal;
    for (const Claim& claim : m_claims)
        if (claim.canonical == canonical) return OutputRefusal::kNone;
    Claim claim;
    claim.canonical = canonical;
    claim.id = id;
    claim.hasId = exists && id.inode != 0;
    m_claims.push_back(claim);
    return OutputRefusal::kNone;
}

FILE* OutputFiles::Create(const std::string& path, std::string& error) {
    std::lock_guard lock(m_lock);
    std::string canonical;
    Identity id;
    bool exists = false;
    OutputRefusal refusal = Examine(path, &canonical, &id, &exists);
    if (refusal == OutputRefusal::kNone) refusal = Reserve(path);
    if (refusal != OutputRefusal::kNone) {
        error = RefusalText(refusal, path);
        errno = EEXIST;
        return nullptr;
    }

    std::string target = path;
    int fd = -1;
    if (!exists) {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST) {
            // It appeared since it was examined: it is not ours to write through.
            error = RefusalText(OutputRefusal::kExists, path);
            return nullptr;
        }
    } else {
        // The replacement grows beside the old file, under a name of its own.
        const SplitName name = Split(path);
        const std::string folder = name.folder == "/" ? "" : name.folder;
        for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
            target = folder + "/." + name.base + ".part-" + std::to_string(::getpid()) + "-" +
                     std::to_string(g_temporaryCounter.fetch_add(1));
            fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0 && errno != EEXIST) break;
        }
    }
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return nullptr;
    }
    FILE* file = ::fdopen(fd, "wb");
    if (!file) {
        const int why = errno;
        error = path + ": " + std::strerror(why);
        ::close(fd);
        ::unlink(target.c_str());
        errno = why;
        return nullptr;
    }
    struct stat st {};
    for (Claim& claim : m_claims) {
        if (claim.canonical != canonical) continue;
        claim.created = true;
        if (::fstat(fd, &st) == 0) {
            claim.id.device = st.st_dev;
            claim.id.inode = st.st_ino;
            claim.hasId = true;
        }
    }
    if (target != path) m_pending.push_back({target, path});
    m_created.push_back(path);
    return file;
}

std::string OutputFiles::WrittenPath(const std::string& path) const {
    for (const Pending& p : m_pending)
        if (p.final == path) return p.temporary;
    return path;
}

bool OutputFiles::Commit(std::string& error) {
    std::lock_guard lock(m_lock);
    bool ok = true;
    for (const Pending& p : m_pending) {
        const int fd = ::open(p.temporary.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ::fsync(fd);
            ::close(fd);
        }
        if (::rename(p.temporary.c_str(), p.final.c_str()) != 0) {
            if (ok) error = p.final + ": " + std::strerror(errno);
            ok = false;
            ::unlink(p.temporary.c_str());
        }
    }
    m_pending.clear();
    return ok;
}

void OutputFiles::Abandon() {
    std::lock_guard lock(m_lock);
    for (const Pending& p : m_pending)
        ::unlink(p.temporary.c_str());
    m_pending.clear();
}

std::string RefusalText(OutputRefusal refusal, const std::string& path,
                        const std::string& replaceHint) {
    switch (refusal) {
    case OutputRefusal::kNone:
        return {};
    case OutputRefusal::kOntoSource:
        return "refusing to write onto the source: " + path;
    case OutputRefusal::kTwice:
        return "refusing to write two outputs into one file: " + path;
    case OutputRefusal::kExists:
        return replaceHint.empty() ? path + " exists"
                                   : path + " exists; use " + replaceHint + " to replace it";
    case OutputRefusal::kNotAFile:
        return "refusing to write onto " + path + ": it is not a regular file";
    }
    return {};
}

} // namespace qm
