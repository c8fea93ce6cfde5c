#include "tools/mkrec/source_damage.h"

namespace qm::mkrec {

bool damageFitsOutput(const SourceDamage& damage, bool diskImage, std::string& error) {
    const char* misplaced = nullptr;
    if (diskImage) {
        if (damage.zeroHeader) misplaced = "--zero-header";
        if (damage.zeroMiniTable) misplaced = "--zero-mini-table";
        if (damage.zeroBlockTables) misplaced = "--zero-block-tables";
        if (misplaced) {
            error = std::string(misplaced) + " damages an archive; a disk image has no such part";
            return false;
        }
    } else {
        if (damage.zeroMhs) misplaced = "--zero-mhs";
        if (damage.staleBlocks) misplaced = "--stale-blocks";
        if (misplaced) {
            error = std::string(misplaced) + " damages a disk image and needs --disk-image";
            return false;
        }
    }
    return true;
}

} // namespace qm::mkrec
