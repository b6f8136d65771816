// How the stand-in interpreter tells Qarvik that it could not write a
// redirected report whole: it exits with a status of its own, which also
// carries the system's reason. Real tools never exit with these statuses.
#pragma once

#include <cerrno>

#ifdef EDQUOT
constexpr int DISK_QUOTA_ERROR = EDQUOT;
#else
constexpr int DISK_QUOTA_ERROR = ENOSPC;  // a system without disk quotas
#endif

// The reasons a redirection can fail for, in status order from
// LOST_REPORT_STATUS_FIRST; a reason not listed is said as an I/O error.
constexpr int kLostReportReasons[] = {EIO,    ENOSPC,  DISK_QUOTA_ERROR, EFBIG, EROFS, EACCES,
                                      ENOENT, ENOTDIR, EPERM,            EMFILE, ENFILE};
constexpr int LOST_REPORT_STATUS_FIRST = 200;
constexpr int LOST_REPORT_REASON_COUNT =
    static_cast<int>(sizeof kLostReportReasons / sizeof kLostReportReasons[0]);

// The exit status that says a report was lost for error_number.
inline int LostReportStatus(int error_number) {
    for (int k = 0; k < LOST_REPORT_REASON_COUNT; ++k) {
        if (kLostReportReasons[k] == error_number) return LOST_REPORT_STATUS_FIRST + k;
    }
    return LOST_REPORT_STATUS_FIRST;
}

// The status that says the command's process died under it: a worker of the
// stand-in's resident interpreter, or the interpreter itself, ended before the
// command did, and not by an interrupt the run was sent. Whatever the command
// wrote may be cut short. It follows the statuses of the reasons.
constexpr int LOST_REPORT_COMMAND_DIED = LOST_REPORT_STATUS_FIRST + LOST_REPORT_REASON_COUNT;

// The errno value an exit status says a report was lost for; 0 for any other
// status.
inline int LostReportError(int exit_status) {
    int k = exit_status - LOST_REPORT_STATUS_FIRST;
    return k >= 0 && k < LOST_REPORT_REASON_COUNT ? kLostReportReasons[k] : 0;
}
