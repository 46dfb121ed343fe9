/* The ifcsim support library for CGI programs: requests to the server and
 * readers of its replies, form input and HTML escaping, buffered print and
 * log, local time, parameter records, page output helpers and the key:value
 * line splitter. Compiles as C and C++; link with -lifcsim_support. */
#ifndef IFCSIM_SUPPORT_H
#define IFCSIM_SUPPORT_H

#include "ifcsim_errors.h"
#include "ifcsim_protocol.h"
#include "lib_client.h"
#include "lib_data2.h"
#include "lib_form.h"
#include "lib_fp.h"
#include "lib_reply.h"

#endif /* IFCSIM_SUPPORT_H */
