/* The ifcsim support library for CGI programs: buffered print and log,
 * local time, parameter records, page output helpers and the key:value line
 * splitter. Compiles as C and C++; link with -lifcsim_support. */
#ifndef IFCSIM_SUPPORT_H
#define IFCSIM_SUPPORT_H

#include "lib_data2.h"
#include "lib_fp.h"

#endif /* IFCSIM_SUPPORT_H */
