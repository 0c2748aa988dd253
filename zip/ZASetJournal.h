// The journal of a multi-part set's exchange. A new set is written and
// synced in a staging folder, then its files are renamed in place one after
// another; a run killed between two renames would leave a mix of old and new
// parts. So before the first rename the writer puts a journal beside the set
// (".NAME.tarvik-journal", written whole and synced before it gets its name)
// that lists every rename with the identity of the new file, the old parts
// the new set leaves over, and the staging folder; it removes the journal
// once everything is in place. The next open or rewrite of the set finds a
// journal that is still there and completes the exchange: every staged file
// is complete, so rolling forward always yields the whole new set.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TZASetJournal {
    struct Move {
        std::string From;  // the new file in the staging folder
        std::string To;    // its place beside the set
        std::uint64_t Device = 0;
        std::uint64_t Inode = 0;
    };
    std::string StagingFolder;       // removed when the exchange is complete
    std::vector<Move> Moves;         // in the order they are done
    std::vector<std::string> Stale;  // removed afterwards
    // The writer's own temporary files (folders end in "/"), deleted for good.
    std::vector<std::string> Temporaries;
    bool Permanent = true;  // stale parts deleted for good, else to the trash
};

// The journal's path for the set known by `setName` (its last part or program).
std::string SetJournalPath(const std::string& setName);

// Writes `journal` to `path` so that the name holds all of it or nothing, on
// the disk before it returns. False (with `error`) when it could not.
bool WriteSetJournal(const std::string& path, const TZASetJournal& journal, std::string* error);

// Reads a journal; false when there is none or it cannot be read whole.
bool ReadSetJournal(const std::string& path, TZASetJournal& journal);

// Does what the journal of `setName` still lists: the renames not done yet,
// the removal of the stale parts, of the staging folder and of the journal.
// The caller holds the set's lock. 0 when there was no journal, 1 when an
// exchange was completed, -1 (with `error`) when it could not be.
int CompleteSetExchange(const std::string& setName, std::string* error);
