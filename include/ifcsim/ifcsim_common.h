/* What the public headers of the support library share. Part of the
 * support library: compiles as C and C++. */
#ifndef IFCSIM_COMMON_H
#define IFCSIM_COMMON_H

/* Marks a printf-like function, so that a mismatched argument is caught
 * where a CGI program is built. A program may define it first. */
#ifndef IFCSIM_PRINTF_LIKE
#if defined(__GNUC__) || defined(__clang__)
#define IFCSIM_PRINTF_LIKE(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define IFCSIM_PRINTF_LIKE(fmt, first)
#endif
#endif

#endif /* IFCSIM_COMMON_H */
