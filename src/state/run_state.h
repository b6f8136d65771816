// The run's process-wide state: settings from the command line, the work-file
// paths, the report columns of the platform, and the host table. Every stage
// reads and fills it directly.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t ADDRESS_SIZE = 16;    // dotted decimal, 15 characters and the NUL
constexpr size_t RES_FILE_SIZE = 1024;
constexpr size_t WORK_PATH_SIZE = 1024;
constexpr size_t TEMP_DIR_SIZE = WORK_PATH_SIZE - sizeof "tmp00.txt";
// The longest name of a work folder with its separator, on any platform:
// "qarvik-" and a unique part ("qarvik-ffffffff-9999\" on Windows).
constexpr size_t WORK_FOLDER_NAME_MAX = 21;
// The longest temp directory (with its separator) whose work folder and work
// files' paths still fit their fields; a longer one is refused.
constexpr size_t TEMP_DIR_MAX_LENGTH = TEMP_DIR_SIZE - 1 - WORK_FOLDER_NAME_MAX;
// Room for whatever the platform names as its temp directory, so that the
// rule above sees the whole of it.
constexpr size_t TEMP_DIR_QUERY_SIZE = 4096 + 2;
constexpr size_t NAME_SIZE = 128;
constexpr size_t MAC_SIZE = 32;
constexpr int WORK_FILE_COUNT = 12;
constexpr int HOST_TABLE_ROWS = 60000;
constexpr int MAX_OWN_ADDRESSES = 10;  // adapter report lines that can give an own row
// Exit status of a run that cannot make its work folder in the temp directory,
// or whose response file cannot be opened or written.
constexpr int EXIT_FILE_ERROR = 2;
// Exit status of a run whose command interpreter cannot be started at all.
constexpr int EXIT_NO_INTERPRETER = 2;
// Exit status of a run that took no whole inventory: its stages reported an
// error (the response file is left as it was when they found no host), a
// work file could not be written whole, or the adapter tool failed.
constexpr int EXIT_NO_INVENTORY = 3;
constexpr int MAX_PROBES = 255;  // hosts in flight at once: a class C segment in one round

enum ClassMode : int32_t {
    CLASS_NETBEUI = 0,
    CLASS_C = 1,  // the default
    CLASS_B = 2,
    CLASS_A = 3,
};

struct RunSettings {
    char NetAdd[ADDRESS_SIZE];    // network address; the first own address when not given
    ClassMode Class;
    char MaskAdd[ADDRESS_SIZE];   // network mask; from the class when not given
    char ResFile[RES_FILE_SIZE];  // response file path
    int32_t PingWait;             // ping time-out in ms; 0 gives ping no -w
    int32_t Probes;               // hosts examined at once; 1 runs every tool one by one
};

// Work file k is the run's private work folder followed by "tmpKK.txt".
enum WorkFileIndex : int {
    WF_ADAPTER_REPORT = 0,
    WF_ADAPTER_MAC_LINES = 1,
    WF_ADAPTER_IP_LINES = 2,
    WF_SWEEP_PINGS = 3,
    WF_SWEEP_ARP = 4,
    WF_ARP_DYNAMIC_LINES = 5,
    WF_NAME_PINGS = 6,
    WF_NAME_PINGING_LINES = 7,
    WF_BROWSE_LIST = 8,
    WF_NBTSTAT_REPORT = 9,
    WF_NBTSTAT_MAC_LINES = 10,
    WF_SWEEP_PINGING_LINES = 11,
};

struct WorkFiles {
    char Folder[TEMP_DIR_SIZE];  // inside the temp directory, ending with its separator
    char Path[WORK_FILE_COUNT][WORK_PATH_SIZE];
};

// Zero-based byte offsets of the values in the filtered report lines.
struct ReportColumns {
    int32_t MacColumn;     // work file 1
    int32_t IpColumn;      // work file 2
    int32_t NbtMacColumn;  // work file 10
};

constexpr int32_t PING_NAME_COLUMN = sizeof "Pinging";  // just after "Pinging" and its blank

// The marker texts of the report lines the stages read, and where their values
// start. Every version below 6 prints the English markers with the name at 8 and
// values at fixed columns; from version 6 on the markers follow the report
// language, and values follow a mark after their label.
struct ReportMarkers {
    const char* PingMarker;        // work files 7 and 11
    int32_t PingNameColumn;        // where the name starts in a ping line
    const char* ArpMarker;         // work file 5
    const char* NbtMacMarker;      // work file 10
    const char* AdapterValueMark;  // work files 1 and 2: ":", or "" for fixed columns
    const char* NbtMacValueMark;   // work file 10: "= ", or "" for a fixed column
};

struct HostRecord {
    char Name[NAME_SIZE];
    char Ip[ADDRESS_SIZE];
    char Mac[MAC_SIZE];
};

struct RunState {
    RunSettings Settings;
    WorkFiles Files;
    ReportColumns Columns;
    ReportMarkers Markers;
    HostRecord HostTable[HOST_TABLE_ROWS];
    int32_t OwnHostCount;  // rows 0 .. OwnHostCount-1 are the machine's own addresses
    int32_t HostCount;     // rows written to the response file
    int32_t ExitStatus;    // at the run's end: 0, EXIT_FILE_ERROR or EXIT_NO_INVENTORY
    bool StageFailed;      // a stage printed an error message
    bool ProgressLineOpen; // a line of progress marks is on the console, not ended yet
};

extern RunState State;

// The markers of every version below 6, and the initial ones.
extern const ReportMarkers ENGLISH_MARKERS;

// Puts every record back to its state at process start (all zero, the Windows
// NT 4.0 report columns). The run driver calls it first; tests between cases.
void ResetRunState();

// HostCount as far as the table holds rows: never below 0 or above its size.
int32_t TableRowCount();

// Makes the run's private work folder inside the platform's temp directory and
// builds the twelve work-file paths in it. A temp directory that no command
// line can carry, or one where no folder can be made, ends the process with
// its message and EXIT_FILE_ERROR.
void PrepareWorkFiles();

// Removes what is left of the work folder and the folder itself, directly,
// with no command; every end of a run after PrepareWorkFiles calls it.
void RemoveWorkFolder();

// A work file that could not be written whole (a full disk, a quota) means
// the reports are not the network's: the run ends with the work folder named
// on the console and the system's reason on standard error, the work folder
// removed, nothing written, and EXIT_NO_INVENTORY. Nothing happens otherwise.
void EndRunIfWorkFileLost();

// Where the value of a report line starts. Without a value mark (""), at the
// column; a column outside the line reads as the end of its text. With one,
// just after the mark's first place in the line, and past one blank there
// unless the mark ends with its own ("Label: value" and "Label:value" alike);
// a line without the mark has an empty value, its line end.
const char* ReportLineValue(const char* line, const char* value_mark, int32_t column);

// Prints a stage's error message and notes that a stage failed, so that an
// empty table after it is not taken for an inventory.
void ReportStageError(const char* message);

// Copies text into a fixed field: at most size - 1 bytes, always NUL-terminated.
void CopyField(char* field, size_t size, const char* text);
// The same for at most length bytes of text.
void CopyFieldPart(char* field, size_t size, const char* text, size_t length);
