/* The protocol's facts in one place: its names (commands, valve items,
 * selection flags, histogram items), its limits and its sizes. The server,
 * ifcctl, the console, the library's own calls and the tests all take them
 * from here, so no program keeps a copy of its own. Compiles as C and C++;
 * the tables behind the lookup functions are in the support library. */
#ifndef IFCSIM_PROTOCOL_H
#define IFCSIM_PROTOCOL_H

#include "ifcsim_errors.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Connection and framing -------------------------------------------- */

#define IFC_PORT 9000             /* where the server listens unless told otherwise */
#define IFC_HEADER_SIZE 23        /* a request header: the verb and the command field */
#define IFC_VERB_SIZE 3           /* "GET" or "PUT" */
#define IFC_NAME_MAX 20           /* the command field; no command name is longer */
#define IFC_LENGTH_HEADER_SIZE 13 /* "LEN" and the reply length as "%010d" */
#define IFC_TOKEN_SIZE 4          /* "NEXT" and "ERR!" */
#define IFC_FIN_SIZE 3            /* "FIN" */
#define IFC_BLOCK_SIZE 1024       /* a reply or payload travels in blocks of this size */
#define IFC_MAX_PAYLOAD 256000    /* the longest PUT payload: name, NUL and text */
#define IFC_WAIT_SECONDS 5        /* the server's bound on each wait for a client */
#define IFC_TRANSFER_SECONDS 10   /* the server's bound on one whole transfer */

/* ---- Colour numbers and the six-fold commands ------------------------- */

#define IFC_COLOURS 6 /* colour numbers are 1 to IFC_COLOURS */

/* ---- Commands ------------------------------------------------------------
 * One constant per command, the six-fold ones (ending in _1 to _6) counted
 * once; ifc_command_name gives the name a request carries. */

typedef enum ifc_command {
  IFC_CMD_GET_SELECT_ITEM,  /* IFC_get_select_item: the 25 selection flags */
  IFC_CMD_GET_STAT,         /* IFC_get_stat: color, mode, totw_sw */
  IFC_CMD_GET_TOT_TWT,      /* IFC_get_Tot_Twt_c: targets TO and TW of colour c */
  IFC_CMD_GET_TO_TW,        /* IFC_get_To_Tw_c: measured TO and TW of colour c */
  IFC_CMD_GET_HISTO_AVE,    /* IFC_get_histo_ave_c: averages of colour c */
  IFC_CMD_GET_HST_SELECT,   /* IFC_get_hst_select: the histogram selection */
  IFC_CMD_GET_HIST_CNTDATL, /* IFC_get_hist_cntdatL: the left histogram */
  IFC_CMD_GET_HIST_CNTDATR, /* IFC_get_hist_cntdatR: the right histogram */
  IFC_CMD_GET_ON_OFF,       /* IFC_get_on_off_c: the valve points of colour c */
  IFC_CMD_SET_BTNSTAT,      /* MLETOFF_set_btnstat: the let-off button text */
  IFC_CMD_SET_SELECT_ITEM,  /* IFC_set_select_item: one flag, or all to 0 */
  IFC_CMD_SET_STAT,         /* IFC_set_stat: color, mode, totw_sw */
  IFC_CMD_SET_TO_TW,        /* IFC_set_to_tw_c: targets of colour c */
  IFC_CMD_SET_ON_OFF,       /* IFC_set_on_off_c: valve points of colour c */
  IFC_CMD_HST_SELECT_ITEM,  /* IFC_hst_select_item: what a histogram side shows */
  IFC_CMD_HST_CLEAR,        /* IFC_hst_clear: a clear request (printed only) */
  IFC_CMD_HST_SET,          /* IFC_hst_set: a set request (printed only) */
  IFC_CMD_APPEND_LOG,       /* append_log: bytes for cgi.log */
  IFC_COMMANDS              /* the number of constants above */
} ifc_command;

#define IFC_VERB_GET 1
#define IFC_VERB_PUT 2
#define IFC_GET_COMMANDS 29 /* names a GET may carry */
#define IFC_PUT_COMMANDS 19 /* names a PUT may carry */

/* One command name as a request carries it. */
typedef struct ifc_command_info {
  const char *name; /* without the blanks that fill a GET's command field */
  int verb;         /* IFC_VERB_GET or IFC_VERB_PUT */
  int command;      /* its ifc_command constant */
  int colour;       /* 1..IFC_COLOURS for a six-fold command, else 0 */
  int text_max;     /* PUT: the longest text it uses, in bytes; GET: 0 */
} ifc_command_info;

/* The name of a command; colour 1..IFC_COLOURS for the six-fold ones and 0
 * for the others. Null for any other pair. */
const char *ifc_command_name(int command, int colour);

/* Every name, i from 0: the IFC_GET_COMMANDS GET names, then the
 * IFC_PUT_COMMANDS PUT names, each group in the order of the server's
 * tables; null for i outside. */
const ifc_command_info *ifc_command_at(int i);

/* The command of that name (exact and case-sensitive), or null. */
const ifc_command_info *ifc_command_find(const char *name);

/* The texts of the histogram commands: longer ones are ignored whole. */
#define IFC_HST_SELECT_TEXT_MAX 15
#define IFC_HST_CLEAR_TEXT_MAX 10
#define IFC_HST_SET_TEXT_MAX 32

/* The on/off text: pieces "item:value" separated by blanks. Of a piece
 * with a longer name or value, and of pieces past the limit, nothing is
 * used. */
#define IFC_ON_OFF_NAME_MAX 29
#define IFC_ON_OFF_VALUE_MAX 49
#define IFC_ON_OFF_PIECES_MAX 500

/* ---- Items --------------------------------------------------------------
 * A setting a reply shows and a text may change: its name, and where the
 * server keeps it. */
typedef struct ifc_item {
  const char *name;   /* as in replies and texts */
  const char *record; /* the record of the set file that holds it */
  int slot;           /* its value slot; 0 for valve items (slot = colour) */
} ifc_item;

/* The 25 selection flags, in the order of their reply. */
/* clang-format off */
typedef enum ifc_flag {
  IFC_FLAG_PIN, IFC_FLAG_ABS, IFC_FLAG_MAIN, IFC_FLAG_TANDEM, IFC_FLAG_STRETCH,
  IFC_FLAG_SUB1, IFC_FLAG_SUB2, IFC_FLAG_SUB3, IFC_FLAG_SUB4, IFC_FLAG_SUB5,
  IFC_FLAG_SUB6, IFC_FLAG_SUB7, IFC_FLAG_SUB8, IFC_FLAG_SUB9, IFC_FLAG_SUB10,
  IFC_FLAG_SUB11, IFC_FLAG_SUB12, IFC_FLAG_SUB13, IFC_FLAG_SUB14, IFC_FLAG_SUB15,
  IFC_FLAG_SUB16, IFC_FLAG_SUB17, IFC_FLAG_SUB18, IFC_FLAG_SUB19, IFC_FLAG_SUB20,
  IFC_FLAGS /* their number */
} ifc_flag;
/* clang-format on */
#define IFC_FLAG_NAME_MAX 7 /* the longest flag name ("stretch") */
#define IFC_FLAG_ALL "all"  /* the name IFC_set_select_item takes to clear them all */

/* Flag flag (IFC_FLAG_PIN..IFC_FLAG_SUB20), or null for any other number. */
const ifc_item *ifc_flag_item(int flag);
/* The flag of that name, or IFC_EMISSING. */
int ifc_flag_find(const char *name);

/* The 45 valve items of the on/off commands, in the order of their reply
 * (behind its "ATC_TO_DELAY:0 ", which no text can change). */
/* clang-format off */
typedef enum ifc_valve {
  IFC_VALVE_PIN_ON, IFC_VALVE_ABS_ON, IFC_VALVE_ABS_OFF,
  IFC_VALVE_MAIN_ON, IFC_VALVE_MAIN_OFF, IFC_VALVE_TANDEM_ON, IFC_VALVE_TANDEM_OFF,
  IFC_VALVE_STRETCH_ON, IFC_VALVE_STRETCH_OFF,
  IFC_VALVE_SUB1_ON, IFC_VALVE_SUB1_OFF, IFC_VALVE_SUB2_ON, IFC_VALVE_SUB2_OFF,
  IFC_VALVE_SUB3_ON, IFC_VALVE_SUB3_OFF, IFC_VALVE_SUB4_ON, IFC_VALVE_SUB4_OFF,
  IFC_VALVE_SUB5_ON, IFC_VALVE_SUB5_OFF, IFC_VALVE_SUB6_ON, IFC_VALVE_SUB6_OFF,
  IFC_VALVE_SUB7_ON, IFC_VALVE_SUB7_OFF, IFC_VALVE_SUB8_ON, IFC_VALVE_SUB8_OFF,
  IFC_VALVE_SUB9_ON, IFC_VALVE_SUB9_OFF, IFC_VALVE_SUB10_ON, IFC_VALVE_SUB10_OFF,
  IFC_VALVE_SUB11_ON, IFC_VALVE_SUB11_OFF, IFC_VALVE_SUB12_ON, IFC_VALVE_SUB12_OFF,
  IFC_VALVE_SUB13_ON, IFC_VALVE_SUB13_OFF, IFC_VALVE_SUB14_ON, IFC_VALVE_SUB14_OFF,
  IFC_VALVE_SUB15_ON, IFC_VALVE_SUB15_OFF, IFC_VALVE_SUB16_ON, IFC_VALVE_SUB16_OFF,
  IFC_VALVE_SUB17_ON, IFC_VALVE_SUB17_OFF, IFC_VALVE_SUB18_ON, IFC_VALVE_SUB18_OFF,
  IFC_VALVES /* their number */
} ifc_valve;
/* clang-format on */

/* Valve item item (IFC_VALVE_PIN_ON..IFC_VALVE_SUB18_OFF), or null for any
 * other number. */
const ifc_item *ifc_valve_item(int item);
/* The valve item of that name, or IFC_EMISSING. */
int ifc_valve_find(const char *name);

/* The 12 histogram items; the number is what the set file stores. */
/* clang-format off */
typedef enum ifc_hist_item {
  IFC_HIST_TO, IFC_HIST_TB1, IFC_HIST_TB2, IFC_HIST_TB3, IFC_HIST_TB4, IFC_HIST_TB5,
  IFC_HIST_TB6, IFC_HIST_TB7, IFC_HIST_TB8, IFC_HIST_TBW, IFC_HIST_TW, IFC_HIST_TW_TBW,
  IFC_HIST_ITEMS /* their number */
} ifc_hist_item;
/* clang-format on */
#define IFC_HIST_ITEM_NAME_MAX 6 /* the longest item name ("tw_tbw") */

/* The name of histogram item item, or null for any other number. */
const char *ifc_hist_item_name(int item);
/* The histogram item of that name, or IFC_EMISSING. */
int ifc_hist_item_find(const char *name);

/* The two histograms. */
typedef enum ifc_side { IFC_LEFT, IFC_RIGHT } ifc_side;

/* A histogram reply has this many bins. */
#define IFC_HIST_BINS 46

/* ---- Set files ----------------------------------------------------------- */

#define IFC_RECORD_SIZE 80         /* one record of a set file */
#define IFC_SET_FILE "ifc_set.set" /* targets, status, histogram selection, flags */
#define IFC_SET_FILE_SIZE 800
#define IFC_VALVE_FILE "valve_fp.set" /* the valve points */
#define IFC_VALVE_FILE_SIZE 8960
#define IFC_LOG_FILE "cgi.log" /* what append_log appends to */

#ifdef __cplusplus
}
#endif

#endif /* IFCSIM_PROTOCOL_H */
