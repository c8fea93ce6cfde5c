#include "tools/qmtool/source.h"

#include "storage/source_kind.h"

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
        return true;
    case qm::SourceKind::kDiskImage:
    case qm::SourceKind::kBlockDevice:
        if (!reader.OpenDiskPath(path)) {
            error = path + ": NO video in Hard Drive (" + reader.OpenError() + ")";
            return false;
        }
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

} // namespace qmtool
