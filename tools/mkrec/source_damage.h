#pragma once
// Damage asked of a written recording, so that tests of recovery get sources
// like those met in the field: a copy cut short, a zeroed archive header or
// table, a disk whose block table is gone or which still holds blocks from
// before a recorder reset.

#include <cstdint>
#include <optional>
#include <string>

namespace qm::mkrec {

struct SourceDamage {
    // The file ends at this byte (applied last, after any zeroing).
    std::optional<uint64_t> cutAt;
    // Archive: its header, the file's last 512 bytes, is zeroed.
    bool zeroHeader = false;
    // Archive: the mini header table, where the header says it lies, is zeroed.
    bool zeroMiniTable = false;
    // Archive: both frame tables of this block (0 for the file's first) are
    // zeroed; its header keeps its record counts, as after a lost table write.
    std::optional<uint32_t> zeroBlockTables;
    // Disk image: the MHS, where the information sector says it lies, is zeroed.
    bool zeroMhs = false;
    // Disk image: this many whole blocks of an earlier recording lie in ring
    // slots after the recording's own, with no MHS entry.
    uint32_t staleBlocks = 0;
};

// False, with a one-line message naming the option, when some of the damage
// does not apply to an archive (diskImage false) or a disk image (true).
bool damageFitsOutput(const SourceDamage& damage, bool diskImage, std::string& error);

} // namespace qm::mkrec
