// A file that a tool keeps in the run's work folder beside its report (the
// neighbour room's ledger, a probe's record) and could not write: as with a
// redirection that could not be written, the report is lost. The tool notes
// the system's reason at the failing call and says nothing more; the
// interpreter ends the command with the lost-report status that carries the
// reason (lost_report.h), and Qarvik says it once for the run.
#pragma once

#include <atomic>
#include <cerrno>

inline std::atomic<int>& LostWorkFolderFileError() {
    static std::atomic<int> error_number{0};
    return error_number;
}

// The first failure of a command counts: it says why.
inline void NoteLostWorkFolderFile(int error_number) {
    int none = 0;
    LostWorkFolderFileError().compare_exchange_strong(none, error_number != 0 ? error_number : EIO);
}

inline bool WorkFolderFileLost() { return LostWorkFolderFileError().load() != 0; }

// The reason noted since the last call, 0 for none; the note is cleared.
inline int TakeLostWorkFolderFile() { return LostWorkFolderFileError().exchange(0); }
