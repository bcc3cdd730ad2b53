/*
 * The ledsign library: any number of signs in one process, each behind a handle of its own.
 *
 * A host that drives more than one sign, names its port by a full path (/dev/serial/by-id/...),
 * or holds its text as UTF-8 links this library (libledsign.so, ledsign.dll) instead of loading a
 * plug-in. It sends exactly the plug-ins' bytes, pauses and results for each sign model, with the
 * same deadlines and the same comeback of a lost line.
 *
 * Threads: calls on different signs may run at the same time on different threads; one sign is
 * used by one thread at a time. Results: 1 success; -1 the port could not be opened or a write
 * failed; -2 the line refused the settings; -3 a bad argument (nothing was sent).
 */
#ifndef LEDSIGN_LIB_H
#define LEDSIGN_LIB_H

#include "ledsign.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && defined(LEDSIGN_BUILDING_LIBRARY)
#define LEDSIGN_LIB_API /* exported by name through ledsign.def */
#elif defined(_WIN32)
#define LEDSIGN_LIB_API __declspec(dllimport)
#elif defined(LEDSIGN_BUILDING_LIBRARY)
#define LEDSIGN_LIB_API __attribute__((visibility("default")))
#else
#define LEDSIGN_LIB_API
#endif

#define LEDSIGN_OK 1
#define LEDSIGN_FAILED (-1)
#define LEDSIGN_REFUSED (-2)
#define LEDSIGN_BAD_ARGUMENT (-3)

/* One open sign: its model, its port and its line. */
typedef struct ledsign_sign ledsign_sign;

/* Opens `port` for a sign of `model` ("brava", "dorun", "cresto", "elvane"). `port` is any length:
 * on Linux a path, a name under /dev/ ("ttyUSB0") or "COMn" (/dev/ttyS(n-1)); on Windows "COMn"
 * or "\\.\COMn". `settings` is "BAUD,DATA,PARITY,STOP" as in LEDAtt's commText ("9600,8,NONE,1"),
 * or NULL for the settings the sign reports. 1 with *sign set; otherwise *sign is NULL, nothing is
 * held, and ledsign_last_error(NULL) on the same thread says why: -1 the port could not be opened
 * (missing, in use, no permission), -2 the line refused the settings, -3 a bad argument (unknown
 * model, malformed settings text, a null pointer). */
LEDSIGN_LIB_API int LEDSIGN_CALL ledsign_open(const char *model, const char *port, const char *settings,
                                              ledsign_sign **sign);

/* Shows GBK text: the plug-in's Write2Led bytes, pauses and result for the sign's model. */
LEDSIGN_LIB_API int LEDSIGN_CALL ledsign_write(ledsign_sign *sign, const char *text);

/* Shows UTF-8 text, converted to GBK first. Text that is not valid UTF-8, holds a character GBK
 * cannot show, or comes to more than 4095 bytes of GBK gives -3 with nothing sent. */
LEDSIGN_LIB_API int LEDSIGN_CALL ledsign_write_utf8(ledsign_sign *sign, const char *text);

/* Blanks the sign: the plug-in's ClearLed bytes and result. */
LEDSIGN_LIB_API int LEDSIGN_CALL ledsign_clear(ledsign_sign *sign);

/* Releases the port and the handle; NULL is fine. */
LEDSIGN_LIB_API void LEDSIGN_CALL ledsign_close(ledsign_sign *sign);

/* Why the last call on the sign failed, in the trace's words ("/dev/ttyUSB0 lost: write:
 * Input/output error (5)"); "" after a success. With NULL: why the calling thread's last
 * ledsign_open failed. Valid until the next call on the same sign (or open on the same thread). */
LEDSIGN_LIB_API const char *LEDSIGN_CALL ledsign_last_error(const ledsign_sign *sign);

/* The sign models this library knows, and their names; NULL for an index out of range. */
LEDSIGN_LIB_API int LEDSIGN_CALL ledsign_model_count(void);
LEDSIGN_LIB_API const char *LEDSIGN_CALL ledsign_model_name(int index);

/* Fills `attributes` as the model's plug-in's GetLEDAtt does, opening nothing: 1, or -3 for an
 * unknown model or a null pointer. */
LEDSIGN_LIB_API int LEDSIGN_CALL ledsign_model_attributes(const char *model, LEDAtt *attributes);

/* Receives each trace line of a sign (no line break at the end): every write with its bytes and
 * result, every pause, and the line's failures and comebacks, as a plug-in traces them with
 * LEDSIGN_TRACE=1. Called on the thread that calls the sign. */
typedef void(LEDSIGN_CALL *ledsign_trace_callback)(void *context, const char *line);

/* Sets the sign's trace callback (NULL: none, and nothing is formatted). 1, or -3 for a null sign. */
LEDSIGN_LIB_API int LEDSIGN_CALL ledsign_set_trace(ledsign_sign *sign, ledsign_trace_callback callback, void *context);

#ifdef __cplusplus
}
#endif

#endif /* LEDSIGN_LIB_H */
