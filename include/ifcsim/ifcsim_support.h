/* The ifcsim support library for CGI programs: the protocol's names and
 * limits, requests to the server and a typed call per command, readers of
 * its replies, form input, the response and its HTML escaped as written,
 * buffered print and log, local time, parameter records, page output
 * helpers and the key:value line splitter. Compiles as C and C++; link with
 * -lifcsim_support. */
#ifndef IFCSIM_SUPPORT_H
#define IFCSIM_SUPPORT_H

#include "ifcsim_errors.h"
#include "ifcsim_protocol.h"
#include "lib_cgi.h"
#include "lib_client.h"
#include "lib_commands.h"
#include "lib_data2.h"
#include "lib_form.h"
#include "lib_fp.h"
#include "lib_reply.h"

#endif /* IFCSIM_SUPPORT_H */
