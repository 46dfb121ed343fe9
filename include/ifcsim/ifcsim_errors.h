/* The results of the support library's functions: 0 or more is success,
 * every failure its own negative code. Every other public header of the
 * library includes this one. Compiles as C and C++. */
#ifndef IFCSIM_ERRORS_H
#define IFCSIM_ERRORS_H

#ifdef __cplusplus
extern "C" {
#endif

#define IFC_OK 0
#define IFC_EUNKNOWN (-1)    /* GET: the server knows no command of that name */
#define IFC_ECONNECT (-2)    /* cannot connect: refused, unresolvable, or too slow */
#define IFC_ETIMEOUT (-3)    /* a wait or the whole call ran out of time */
#define IFC_ECLOSED (-4)     /* the server closed before the exchange was complete */
#define IFC_EPROTO (-5)      /* the server sent something the protocol does not allow */
#define IFC_EREFUSED (-6)    /* the server answered "ERR!" */
#define IFC_ETOOBIG (-7)     /* the result does not fit the caller's buffer */
#define IFC_EUSAGE (-8)      /* wrong usage: name over 20 characters, null pointer, ... */
#define IFC_ESETTING (-9)    /* an IFCSIM_ variable of the environment is invalid */
#define IFC_ESYSTEM (-10)    /* another system error; errno tells which */
#define IFC_EFORM (-11)      /* a text does not have the expected form */
#define IFC_EMISSING (-12)   /* the asked-for key or field is not there */
#define IFC_ENOTTAKEN (-13)  /* read back: the controller holds another value */
#define IFC_ENOTNUMBER (-14) /* a field that is empty or no decimal number */
#define IFC_ERANGE (-15)     /* a number outside the range it may take */

/* A short fixed text for a code ("cannot connect", "timed out", ...); never
 * null, also for codes it does not know. */
const char *ifc_strerror(int code);

#ifdef __cplusplus
}
#endif

#endif /* IFCSIM_ERRORS_H */
