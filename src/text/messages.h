// Every fixed console text of Qarvik, and the labels and markers of the tools'
// reports that it looks for. Japanese texts are code page 932 (Shift-JIS) bytes.
#pragma once

// Banner and progress trace.
extern const char MSG_BANNER[];
extern const char MSG_PROGRESS_START[];
extern const char MSG_PROGRESS_END[];
extern const char TRACE_GET_OWN_HOST[];
extern const char TRACE_GET_OTHER_HOSTS[];
extern const char TRACE_GET_COMPUTER_NAME[];
extern const char TRACE_GET_NETBEUI_INFO[];
extern const char TRACE_WRITE_RESPONSE_FILE[];

// Command line: usage text, wrong argument, settings echo.
constexpr int USAGE_LINE_COUNT = 17;
extern const char* const MSG_USAGE[USAGE_LINE_COUNT];
extern const char MSG_INVALID_PARAMETER[];  // %s: the whole argument
extern const char MSG_CLASS_NETBEUI[];
extern const char MSG_CLASS_C[];
extern const char MSG_CLASS_B[];
extern const char MSG_CLASS_A[];
extern const char MSG_NETWORK[];  // %s: NetAdd
extern const char MSG_MASK[];     // %s: MaskAdd
extern const char MSG_OUTPUT_FILE[];  // %s: ResFile
extern const char MSG_PROBES[];       // %d: Probes, shown when above 1

// --version: the program's name and version, then the licence line.
extern const char MSG_VERSION[];  // %s: the program's name
extern const char MSG_LICENCE[];

// Command interpreter.
extern const char MSG_NO_COMMAND_INTERPRETER[];  // %s: the interpreters tried

// Work folder.
extern const char MSG_WORK_FILE_LOST[];          // %s: the work folder
extern const char MSG_COMMAND_LOST[];            // %s: the command line
extern const char MSG_ADAPTER_TOOL_FAILED[];     // %d: the tool's exit status
extern const char MSG_TEMP_DIRECTORY_REFUSED[];  // %s: the temp directory
extern const char MSG_WORK_FOLDER_ERROR[];       // %s: the temp directory
// %d: the longest temp directory allowed; its "%%s" then stands for the directory.
extern const char MSG_TEMP_DIRECTORY_TOO_LONG[];

// Platform probe and adapter report.
extern const char MSG_VERSION_ERROR[];
extern const char MSG_OS_WIN98[];
extern const char MSG_OS_WIN95[];
extern const char MSG_OS_NT4[];
extern const char MSG_OS_WIN2000[];
extern const char MSG_OS_XP[];
extern const char CMD_WINIPCFG_98[];
extern const char CMD_WINIPCFG_95[];
extern const char CMD_IPCONFIG[];
extern const char LABEL_MAC_98[];
extern const char LABEL_IP_98[];
extern const char LABEL_MAC_95[];
extern const char LABEL_IP_95[];
extern const char LABEL_MAC_NT[];
extern const char LABEL_IP_NT[];
extern const char MSG_OS_MODERN[];  // %s: the name of a version from 6 on
extern const char OS_NAME_VISTA[];
extern const char OS_NAME_SERVER_2008[];
extern const char OS_NAME_7[];
extern const char OS_NAME_SERVER_2008_R2[];
extern const char OS_NAME_8[];
extern const char OS_NAME_SERVER_2012[];
extern const char OS_NAME_8_1[];
extern const char OS_NAME_SERVER_2012_R2[];
extern const char OS_NAME_10[];
extern const char OS_NAME_11[];
extern const char OS_NAME_SERVER_2016[];
extern const char OS_NAME_SERVER_2019[];
extern const char OS_NAME_SERVER_2022[];
extern const char OS_NAME_SERVER_2025[];
extern const char OS_NAME_SERVER[];
extern const char OS_NAME_NUMBERED[];         // %u.%u: major and minor version
extern const char OS_NAME_SERVER_NUMBERED[];  // %u.%u: major and minor version
extern const char LABEL_MAC_MODERN_EN[];
extern const char LABEL_IP_MODERN_EN[];
extern const char LABEL_MAC_MODERN_JA[];
extern const char LABEL_IP_MODERN_JA[];

// Markers of the report lines the stages read.
extern const char MARKER_PINGING[];
extern const char MARKER_DYNAMIC[];
extern const char MARKER_NBT_MAC[];
extern const char MARKER_PINGING_JA[];
extern const char MARKER_DYNAMIC_JA[];
extern const char MARKER_NBT_MAC_JA[];

// Line filter.
extern const char MSG_FILE_OPEN_ERROR[];  // %s: the path

// Own-host stage.
extern const char MSG_OWN_IP_LINE[];   // %s: the line from IpColumn on
extern const char MSG_OWN_MAC_LINE[];  // %s: the line from MacColumn on
extern const char MSG_IP_ADDRESS_ERROR[];
extern const char MSG_NO_VALID_ADDRESS[];
extern const char MSG_MAC_ADDRESS_ERROR[];

// Sweep and computer names.
extern const char MSG_SEARCH_HOSTS[];         // %d: host count
extern const char MSG_SEARCH_ACTIVE_HOSTS[];  // %d: row count
extern const char MSG_PROGRESS_MARK[];
extern const char MSG_PROGRESS_CLOSE[];
extern const char MSG_OTHER_HOSTS_ERROR[];
extern const char MSG_COMPUTER_NAME_ERROR[];

// NetBEUI stage.
extern const char MSG_BROWSE_LIST_ERROR[];
extern const char MSG_COMPUTER_DONE[];
extern const char MSG_LINE_END[];

// Response file.
extern const char MSG_OUTPUT_OPEN_ERROR[];   // %s: ResFile
extern const char MSG_OUTPUT_WRITE_ERROR[];  // %s: ResFile
extern const char MSG_NO_INVENTORY[];        // %s: ResFile
extern const char MSG_PARTIAL_INVENTORY[];   // %s: ResFile
extern const char MSG_OUTPUT_NOT_PUT_BACK[];  // %s: ResFile
extern const char MSG_OLD_FILE_STRANDED[];   // %s: where the old file is
