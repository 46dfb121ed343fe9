/* Client side of the protocol, for CGI programs: one request per connection,
 * every wait and every whole call bounded. Part of the support library: this header
 * compiles as C and C++. No function allocates memory (a host name that is not an address
 * literal is resolved with getaddrinfo), keeps state between calls or raises
 * SIGPIPE, so two threads may each make requests. */
#ifndef IFCSIM_LIB_CLIENT_H
#define IFCSIM_LIB_CLIENT_H

#include "ifcsim_errors.h"
#include "ifcsim_protocol.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Where the server is, how long any single wait may last and how long a
 * whole call may take. */
typedef struct ifc_endpoint {
  char host[256]; /* IPv4 or IPv6 address or host name */
  unsigned short port;
  int timeout_ms;  /* bound of every single wait: connect, each read, each write */
  int deadline_ms; /* bound of a whole call; 0: three times timeout_ms */
} ifc_endpoint;

/* 127.0.0.1, 9000, 5000 ms for a wait and no deadline of its own (0), then
 * IFCSIM_HOST, IFCSIM_PORT (1..65535), IFCSIM_TIMEOUT_MS (1..3600000) and
 * IFCSIM_DEADLINE_MS (1..3600000) from the environment where set. Returns
 * 0, or IFC_ESETTING when a variable holds no valid setting (that field
 * keeps its default), or IFC_EUSAGE for a null pointer. */
int ifc_endpoint_init(ifc_endpoint *ep);

/* For every request: an endpoint with an empty or unterminated host, port 0,
 * a timeout below 1 ms or a negative deadline is IFC_EUSAGE. The call ends
 * by its deadline (deadline_ms from its start, or three times timeout_ms):
 * IFC_ETIMEOUT once it has passed, however steadily the server goes on
 * sending, and IFC_ECONNECT when no connection came by then. Only the
 * resolving of a host name that is no address literal is not bounded.
 * After IFC_ECONNECT and IFC_ESYSTEM, errno tells the cause: ETIMEDOUT when
 * no connection came in time, ENXIO when the host name cannot be resolved,
 * else the error of the call that failed (ECONNREFUSED, EMFILE, ...). */

/* GET: the reply into reply[0..capacity), NUL-terminated. Returns its length
 * (0 or more), IFC_EUNKNOWN when the server does not know the name (its
 * "LEN-000000001"), or another negative code (reply then holds ""). A reply
 * that does not fit is still read to its end: IFC_ETOOBIG, with its first
 * capacity - 1 bytes in reply. IFC_EUSAGE for a name over 20 characters, a
 * null pointer, or a capacity below 1. */
int ifc_get(const ifc_endpoint *ep, const char *name, char *reply, int capacity);

/* PUT of name, a NUL and text[0..length). Returns 0 once "FIN" came and the
 * server closed (the command has then run), or a negative code: IFC_EUSAGE
 * when name is empty or longer than 20 characters, or the payload longer than
 * the 256000 bytes the server takes, a negative length or a null pointer
 * (text may be null when length is 0); IFC_ETIMEOUT also when "FIN" came
 * but the server did not close in time; IFC_EPROTO when it sent anything
 * after "FIN". */
int ifc_put(const ifc_endpoint *ep, const char *name, const char *text, int length);

/* PUT of exactly payload[0..length), for a payload built by the caller (name,
 * NUL and text in one buffer). Results as ifc_put; IFC_EUSAGE only for a
 * length outside 0..256000 or a null pointer. */
int ifc_put_payload(const ifc_endpoint *ep, const char *payload, int length);

#ifdef __cplusplus
}
#endif

#endif /* IFCSIM_LIB_CLIENT_H */
