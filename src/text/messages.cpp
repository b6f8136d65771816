#include "text/messages.h"

const char MSG_BANNER[] = "Network Address Search Utility : Qarvik.exe(R2.1)\n\n";
const char MSG_PROGRESS_START[] = "(Lumbrant)Start: ";
const char MSG_PROGRESS_END[] = "(Lumbrant)End  : ";
const char TRACE_GET_OWN_HOST[] = "Get Own Host";
const char TRACE_GET_OTHER_HOSTS[] = "Get Other Hosts";
const char TRACE_GET_COMPUTER_NAME[] = "Get Computer Name";
const char TRACE_GET_NETBEUI_INFO[] = "Get NetBEUI Info";
const char TRACE_WRITE_RESPONSE_FILE[] = "Write Response File";

// The continuation lines start with two blanks and six ideographic spaces.
const char* const MSG_USAGE[USAGE_LINE_COUNT] = {
    // 使用方法\n
    "\216g\227p\225\373\226@\n",
    "  Qarvik [/cClass] [/oResFile] [/nNetAdd] [/mMaskAdd] [/wPingWait] [/pProbes]<ret>\n\n",
    // パラメータ\n
    "\203p\203\211\203\201\201[\203^\n",
    //   [/cClass]    : IPアドレスクラス\n
    "  [/cClass]    : IP\203A\203h\203\214\203X\203N\203\211\203X\n",
    //   　　　　　　 :   Class= A   クラスA 255.  0.  0.0\n
    "  \201@\201@\201@\201@\201@\201@ :   Class= A   \203N\203\211\203XA 255.  0.  0.0\n",
    //   　　　　　　 :   Class= B   クラスB 255.255.  0.0\n
    "  \201@\201@\201@\201@\201@\201@ :   Class= B   \203N\203\211\203XB 255.255.  0.0\n",
    //   　　　　　　 :   Class= C   クラスC 255.255.255.0 ※既定値\n
    "  \201@\201@\201@\201@\201@\201@ :   Class= C   \203N\203\211\203XC 255.255.255.0 "
    "\201\246\212\371\222\350\222l\n",
    //   　　　　　　 :   Class= N   NetBEUI\n
    "  \201@\201@\201@\201@\201@\201@ :   Class= N   NetBEUI\n",
    //   [/oResFile]  : 出力ファイル名\n
    "  [/oResFile]  : \217o\227\315\203t\203@\203C\203\213\226\274\n",
    //   　　　　　　 :   既定値= rsp.txt\n
    "  \201@\201@\201@\201@\201@\201@ :   \212\371\222\350\222l= rsp.txt\n",
    //   [/nNetAdd]   : ネットワークアドレス\n
    "  [/nNetAdd]   : \203l\203b\203g\203\217\201[\203N\203A\203h\203\214\203X\n",
    //   　　　　　　 :   既定値= Qarvik起動マシンのアドレス\n
    "  \201@\201@\201@\201@\201@\201@ :   \212\371\222\350\222l= "
    "Qarvik\213N\223\256\203}\203V\203\223\202\314\203A\203h\203\214\203X\n",
    //   [/mMaskAdd]  : マスクアドレス\n
    "  [/mMaskAdd]  : \203}\203X\203N\203A\203h\203\214\203X\n",
    //   　　　　　　 :   既定値= IPアドレスクラスに応じた値\n
    "  \201@\201@\201@\201@\201@\201@ :   \212\371\222\350\222l= "
    "IP\203A\203h\203\214\203X\203N\203\211\203X\202\311\211\236\202\266\202\275\222l\n",
    //   [/wPingWait] : Pingタイムアウトミリ秒数(1000～10000)\n
    "  [/wPingWait] : Ping\203^\203C\203\200\203A\203E\203g\203~\203\212\225b\220\224"
    "(1000\201`10000)\n",
    //   [/pProbes]   : 同時に調べるホスト数(1～255)\n
    "  [/pProbes]   : \223\257\216\236\202\311\222\262\202\327\202\351\203z\203X\203g\220\224"
    "(1\201`255)\n",
    //   　　　　　　 :   既定値= 1\n
    "  \201@\201@\201@\201@\201@\201@ :   \212\371\222\350\222l= 1\n",
};

// 不正なパラメータです。(%s)\n
const char MSG_INVALID_PARAMETER[] =
    "\225s\220\263\202\310\203p\203\211\203\201\201[\203^\202\305\202\267\201B(%s)\n";
// QARVIK_VERSION: the project's version, from the build.
const char MSG_VERSION[] = "%s " QARVIK_VERSION "\n";
const char MSG_LICENCE[] = "Copyright 2026 Qarvik maintainers. License: MIT, without warranty.\n";

const char MSG_CLASS_NETBEUI[] = "\tClass      = NetBEUI\n";
const char MSG_CLASS_C[] = "\tClass      = C\n";
const char MSG_CLASS_B[] = "\tClass      = B\n";
const char MSG_CLASS_A[] = "\tClass      = A\n";
const char MSG_NETWORK[] = "\tNetwork    = %s\n";
const char MSG_MASK[] = "\tMask       = %s\n";
const char MSG_OUTPUT_FILE[] = "\tOutputFile = %s\n";
const char MSG_PROBES[] = "\tProbes     = %d\n";

const char MSG_NO_COMMAND_INTERPRETER[] = "Cannot start a command interpreter, tried : %s\n";

const char MSG_TEMP_DIRECTORY_REFUSED[] =
    "Temp directory holds a double quote or a control character, unsafe in a command line : "
    "%s\n";
const char MSG_WORK_FILE_LOST[] =
    "A work file could not be written whole: no inventory taken, the response file is left as "
    "it was : %s\n";
const char MSG_COMMAND_LOST[] =
    "A command ended before its report was whole: no inventory taken, the response file is "
    "left as it was : %s\n";
const char MSG_ADAPTER_TOOL_FAILED[] =
    "The adapter tool failed (exit status %d): no inventory taken, the response file is left "
    "as it was\n";
const char MSG_WORK_FOLDER_ERROR[] = "Cannot create a work folder in the temp directory : %s\n";
const char MSG_TEMP_DIRECTORY_TOO_LONG[] =
    "Temp directory longer than %d characters, too long for the paths of the work files in "
    "it : %%s\n";

// OSバージョン取得に失敗しました。\n
const char MSG_VERSION_ERROR[] =
    "OS\203o\201[\203W\203\207\203\223\216\346\223\276\202\311\216\270\224s\202\265\202\334"
    "\202\265\202\275\201B\n";
const char MSG_OS_WIN98[] = "\tOS         = Windows 98\n";
const char MSG_OS_WIN95[] = "\tOS         = Windows 95\n";
const char MSG_OS_NT4[] = "\tOS         = Windows NT4.0\n";
const char MSG_OS_WIN2000[] = "\tOS         = Windows 2000\n";
const char MSG_OS_XP[] = "\tOS         = Windows XP\n";
const char CMD_WINIPCFG_98[] = "winipcfg /all /batch ";
// winipcfg /全 /ﾊﾞｯﾁ   (half-width katakana)
const char CMD_WINIPCFG_95[] = "winipcfg /\221S /\312\336\257\301 ";
const char CMD_IPCONFIG[] = "ipconfig /all > ";
// 物理アドレス
const char LABEL_MAC_98[] = "\225\250\227\235\203A\203h\203\214\203X";
// IP アドレス
const char LABEL_IP_98[] = "IP \203A\203h\203\214\203X";
// 物理ｱﾄﾞﾚｽ  (half-width katakana)
const char LABEL_MAC_95[] = "\225\250\227\235\261\304\336\332\275";
// IP ｱﾄﾞﾚｽ  (half-width katakana)
const char LABEL_IP_95[] = "IP \261\304\336\332\275";
const char LABEL_MAC_NT[] = "Physical";
const char LABEL_IP_NT[] = "IP Address";

// From version 6 on: "\tOS         = " and the name below.
const char MSG_OS_MODERN[] = "\tOS         = %s\n";
const char OS_NAME_VISTA[] = "Windows Vista";
const char OS_NAME_SERVER_2008[] = "Windows Server 2008";
const char OS_NAME_7[] = "Windows 7";
const char OS_NAME_SERVER_2008_R2[] = "Windows Server 2008 R2";
const char OS_NAME_8[] = "Windows 8";
const char OS_NAME_SERVER_2012[] = "Windows Server 2012";
const char OS_NAME_8_1[] = "Windows 8.1";
const char OS_NAME_SERVER_2012_R2[] = "Windows Server 2012 R2";
const char OS_NAME_10[] = "Windows 10";
const char OS_NAME_11[] = "Windows 11";
const char OS_NAME_SERVER_2016[] = "Windows Server 2016";
const char OS_NAME_SERVER_2019[] = "Windows Server 2019";
const char OS_NAME_SERVER_2022[] = "Windows Server 2022";
const char OS_NAME_SERVER_2025[] = "Windows Server 2025";
const char OS_NAME_SERVER[] = "Windows Server";
const char OS_NAME_NUMBERED[] = "Windows %u.%u";
const char OS_NAME_SERVER_NUMBERED[] = "Windows Server %u.%u";

// The labels and markers of the tools from version 6 on, in English and, for
// a console in code page 932, in Japanese.
const char LABEL_MAC_MODERN_EN[] = "Physical Address";
const char LABEL_IP_MODERN_EN[] = "IPv4 Address";
// 物理アドレス
const char LABEL_MAC_MODERN_JA[] = "\225\250\227\235\203A\203h\203\214\203X";
// IPv4 アドレス
const char LABEL_IP_MODERN_JA[] = "IPv4 \203A\203h\203\214\203X";
// に ping を送信しています
const char MARKER_PINGING_JA[] =
    "\202\311 ping \202\360\221\227\220M\202\265\202\304\202\242\202\334\202\267";
// 動的
const char MARKER_DYNAMIC_JA[] = "\223\256\223I";
// MAC アドレス: the one text here that no captured report shows; it follows
// the tools' other Japanese labels.
const char MARKER_NBT_MAC_JA[] = "MAC \203A\203h\203\214\203X";

// What the ping, arp and nbtstat reports of every version print in English.
const char MARKER_PINGING[] = "Pinging";
const char MARKER_DYNAMIC[] = "dynamic";
const char MARKER_NBT_MAC[] = "MAC Address";

const char MSG_FILE_OPEN_ERROR[] = "File open error : %s\n";

const char MSG_OWN_IP_LINE[] = "\tIP = %s";
const char MSG_OWN_MAC_LINE[] = "\tMAC= %s";
// IPアドレス取得エラー\n
const char MSG_IP_ADDRESS_ERROR[] = "IP\203A\203h\203\214\203X\216\346\223\276\203G\203\211\201[\n";
// 有効なTCP/IPプロトコル,IPアドレスがありません。\n
const char MSG_NO_VALID_ADDRESS[] =
    "\227L\214\370\202\310TCP/IP\203v\203\215\203g\203R\203\213,IP\203A\203h\203\214\203X"
    "\202\252\202\240\202\350\202\334\202\271\202\361\201B\n";
// MACアドレス取得エラー\n
const char MSG_MAC_ADDRESS_ERROR[] = "MAC\203A\203h\203\214\203X\216\346\223\276\203G\203\211\201[\n";

const char MSG_SEARCH_HOSTS[] = "\tSearch %d hosts : <";
const char MSG_SEARCH_ACTIVE_HOSTS[] = "\tSearch %d active hosts : <";
const char MSG_PROGRESS_MARK[] = "*";
const char MSG_PROGRESS_CLOSE[] = "*>\n";
const char MSG_OTHER_HOSTS_ERROR[] = "Get other hosts error\n";
const char MSG_COMPUTER_NAME_ERROR[] = "Get ComputerName error \n";

// コンピュータ名取得エラー\n
const char MSG_BROWSE_LIST_ERROR[] =
    "\203R\203\223\203s\203\205\201[\203^\226\274\216\346\223\276\203G\203\211\201[\n";
const char MSG_COMPUTER_DONE[] = ".";
const char MSG_LINE_END[] = "\n";

// 出力ファイルがオープンできません。(%s)\n
const char MSG_OUTPUT_OPEN_ERROR[] =
    "\217o\227\315\203t\203@\203C\203\213\202\252\203I\201[\203v\203\223\202\305\202\253\202\334"
    "\202\271\202\361\201B(%s)\n";
// 出力ファイルに書き込めません。(%s)\n
const char MSG_OUTPUT_WRITE_ERROR[] =
    "\217o\227\315\203t\203@\203C\203\213\202\311\217\221\202\253\215\236\202\337\202\334\202\271"
    "\202\361\201B(%s)\n";

const char MSG_NO_INVENTORY[] =
    "No host found after the error above: no inventory taken, the response file is left as it "
    "was : %s\n";

const char MSG_PARTIAL_INVENTORY[] =
    "The hosts found are written, but after the error above the inventory is not complete : "
    "%s\n";
const char MSG_OUTPUT_NOT_PUT_BACK[] =
    "The old response file could not be written back either; it is lost : %s\n";
const char MSG_OLD_FILE_STRANDED[] =
    "The old response file could not be put back under its name; it is kept as : %s\n";
