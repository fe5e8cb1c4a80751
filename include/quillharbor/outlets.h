/* quillharbor: replacing the two diagnostic outlets from inside the process.
 *
 * A host that loads the module (a test harness, the log replayer) may route the
 * module's event-log entries and debug trace lines to itself instead of the
 * platform's outlets. With none installed the platform's outlets are used. */
#ifndef QUILLHARBOR_OUTLETS_H
#define QUILLHARBOR_OUTLETS_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#  define QUILLHARBOR_CALL __stdcall
#else
#  define QUILLHARBOR_CALL
#endif

/* One event-log entry: type 0 success, 1 error; the identifier; its one text. */
typedef void (QUILLHARBOR_CALL *quillharbor_event_outlet)(void* context, unsigned short type,
                                                          unsigned int identifier, const char* text);
/* One whole trace line, "[thread] text\n", zero-terminated. */
typedef void (QUILLHARBOR_CALL *quillharbor_trace_outlet)(void* context, const char* line);

/* Installs both outlets at once; a null function restores that platform outlet.
 * Call it before GetFilterVersion or after TerminateFilter, never during a
 * notification. The outlets are then called from any of the module's threads. */
typedef void (QUILLHARBOR_CALL *quillharbor_set_outlets_fn)(quillharbor_event_outlet event,
                                                             quillharbor_trace_outlet trace,
                                                             void* context);
#define QUILLHARBOR_SET_OUTLETS_SYMBOL "quillharbor_set_outlets"

#ifdef __cplusplus
}
#endif

#endif
