/* One typed call per command of the server, over the requests of
 * lib_client.h: settings and measured values come as C structs and plain
 * integers, items as the numbers of ifcsim_protocol.h, and no page formats
 * or parses a protocol text. Part of the support library: this header
 * compiles as C and C++. No function allocates or keeps state.
 *
 * Every call keeps to the endpoint's deadline, also a checked change, which
 * makes two requests. Results are 0 or a code of ifcsim_errors.h: those of
 * ifc_get and ifc_put, and IFC_EUSAGE for a null pointer, a colour number
 * outside 1..IFC_COLOURS, a side other than IFC_LEFT and IFC_RIGHT or an
 * item number outside its list; IFC_EFORM for a reply that is not of its
 * command's form; IFC_ERANGE for numbers whose text would be longer than
 * the command takes. On failure the caller's struct is left as it was. */
#ifndef IFCSIM_LIB_COMMANDS_H
#define IFCSIM_LIB_COMMANDS_H

#include <stdint.h>

#include "ifcsim_errors.h"
#include "ifcsim_protocol.h"
#include "lib_client.h"
#include "lib_reply.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Reading ------------------------------------------------------------ */

/* TO and TW: the targets, or the measured values, of one colour number. */
typedef struct ifc_to_tw {
  int32_t to;
  int32_t tw;
} ifc_to_tw;

/* The status. */
typedef struct ifc_status {
  int32_t color;
  int32_t mode;
  int32_t totw_sw;
} ifc_status;

/* The averages of one colour number. */
typedef struct ifc_averages {
  int32_t to;
  int32_t tb[8]; /* tb1..tb8 */
  int32_t tbw;
  int32_t tw;
} ifc_averages;

/* The selection flags, value[IFC_FLAG_PIN] .. value[IFC_FLAG_SUB20]. */
typedef struct ifc_flags {
  int32_t value[IFC_FLAGS];
} ifc_flags;

/* The on/off points of one colour number, value[IFC_VALVE_PIN_ON] ..
 * value[IFC_VALVE_SUB18_OFF]. */
typedef struct ifc_valve_points {
  int32_t value[IFC_VALVES];
} ifc_valve_points;

int ifc_get_flags(const ifc_endpoint *ep, ifc_flags *out);
int ifc_get_status(const ifc_endpoint *ep, ifc_status *out);
/* The targets of colour number colour. */
int ifc_get_targets(const ifc_endpoint *ep, int colour, ifc_to_tw *out);
/* The measured TO and TW of colour number colour (simulated). */
int ifc_get_measured(const ifc_endpoint *ep, int colour, ifc_to_tw *out);
int ifc_get_averages(const ifc_endpoint *ep, int colour, ifc_averages *out);
int ifc_get_valves(const ifc_endpoint *ep, int colour, ifc_valve_points *out);
/* One on/off point: item is an ifc_valve number. */
int ifc_get_valve(const ifc_endpoint *ep, int colour, int item, int32_t *out);
/* What each histogram shows; ifc_hist_item_find gives an item's number, and
 * "?" stands for a number the set file holds that names no item. */
int ifc_get_hist_select(const ifc_endpoint *ep, ifc_hist_select *out);
/* The histogram of side IFC_LEFT or IFC_RIGHT. */
int ifc_get_histogram(const ifc_endpoint *ep, int side, ifc_histogram *out);

/* ---- Changing -------------------------------------------------------------
 * The server never says whether it took a change. A call returns 0 once it
 * has delivered it; its _checked variant then reads the setting back and
 * returns 0 when the controller holds what was sent, or IFC_ENOTTAKEN when
 * it holds something else, with what it holds in *held (held may be null).
 * When the read-back itself fails its code is returned: the change may have
 * been taken or not. */

int ifc_set_targets(const ifc_endpoint *ep, int colour, int32_t to, int32_t tw);
int ifc_set_targets_checked(const ifc_endpoint *ep, int colour, int32_t to, int32_t tw,
                            ifc_to_tw *held);

int ifc_set_status(const ifc_endpoint *ep, int32_t color, int32_t mode, int32_t totw_sw);
int ifc_set_status_checked(const ifc_endpoint *ep, int32_t color, int32_t mode,
                           int32_t totw_sw, ifc_status *held);

/* One selection flag: flag is an ifc_flag number. */
int ifc_set_flag(const ifc_endpoint *ep, int flag, int32_t value);
int ifc_set_flag_checked(const ifc_endpoint *ep, int flag, int32_t value, int32_t *held);

/* All 25 flags to 0. */
int ifc_clear_flags(const ifc_endpoint *ep);
int ifc_clear_flags_checked(const ifc_endpoint *ep, ifc_flags *held);

/* One on/off point of colour number colour: item is an ifc_valve number. */
int ifc_set_valve(const ifc_endpoint *ep, int colour, int item, int32_t value);
int ifc_set_valve_checked(const ifc_endpoint *ep, int colour, int item, int32_t value,
                          int32_t *held);

/* Several on/off points in one request: items[i] to values[i] for i in
 * 0..count, count 1..IFC_VALVES; of an item given twice the last value
 * counts. */
int ifc_set_valves(const ifc_endpoint *ep, int colour, const int *items,
                   const int32_t *values, int count);
int ifc_set_valves_checked(const ifc_endpoint *ep, int colour, const int *items,
                           const int32_t *values, int count, ifc_valve_points *held);

/* What histogram side shows: colour number colour (1..IFC_COLOURS) and
 * item, an ifc_hist_item number. */
int ifc_select_histogram(const ifc_endpoint *ep, int side, int colour, int item);
int ifc_select_histogram_checked(const ifc_endpoint *ep, int side, int colour, int item,
                                 ifc_hist_select *held);

/* ---- Requests the controller only prints or logs ------------------------ */

/* A clear request for item (an ifc_hist_item number) of colour number
 * colour; the colour is passed on as it is. IFC_ERANGE when the two do not
 * fit in IFC_HST_CLEAR_TEXT_MAX bytes. */
int ifc_clear_histogram(const ifc_endpoint *ep, int32_t colour, int item);

/* A set request for both histograms; items are ifc_hist_item numbers. */
typedef struct ifc_hist_setup {
  int32_t left_colour;
  int left_item;
  int32_t left_t;
  int32_t right_colour;
  int right_item;
  int32_t right_t;
  int32_t samp;
} ifc_hist_setup;

/* IFC_ERANGE when the numbers do not fit in IFC_HST_SET_TEXT_MAX bytes. */
int ifc_set_histograms(const ifc_endpoint *ep, const ifc_hist_setup *setup);

/* The let-off button text, which the controller prints as a line. */
int ifc_set_letoff_button(const ifc_endpoint *ep, const char *text);

/* line and a line end, appended to the controller's cgi.log. IFC_EFORM when
 * line holds a line end of its own (CR or LF): one call, one line. */
int ifc_log_line(const ifc_endpoint *ep, const char *line);

#ifdef __cplusplus
}
#endif

#endif /* IFCSIM_LIB_COMMANDS_H */
