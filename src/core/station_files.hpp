#pragma once
// Folders in the station directory that belong to the station alone: no machine's upload is
// stored in them and no file request serves from them.
namespace shoplink {

// The journal and the program history (SQLite database and revisions).
inline constexpr const char* kJournalFolder = "JOURNAL";

}  // namespace shoplink
