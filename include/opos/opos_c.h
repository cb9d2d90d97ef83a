/*
 * C interface to the OPOS Control Objects of libopos-control (POSPrinter and
 * CashDrawer), for C programs and for bindings of other languages.
 *
 * ABI: only C types cross this interface. Handles are opaque; the event
 * descriptor is allocated by the library and only ever passed to the caller
 * by pointer, so fields may be added at its end (check `size`).
 *
 * Results: every method returns the OPOS result code (0 success, 101 closed,
 * 103 not claimed, 106 illegal, 114 extended, ...); the OPOSC_E_ names below.
 * A handle of the wrong class for a function answers OPOSC_E_ILLEGAL, a null
 * handle OPOSC_E_CLOSED.
 *
 * Strings: in and out as zero-terminated UTF-8. Print data in UTF-8 is printed
 * in the printer's code page (CharacterSet); data that is not UTF-8 passes as
 * bytes. Strings returned through a `char*` result or a `char**` parameter are
 * allocated by the library and owned by the caller: release them with
 * opos_string_free(). opos_last_error_text() returns a borrowed string that
 * stays valid until the next call on the same handle.
 *
 * Threads: a device belongs to the thread that opened it. Calls from other
 * threads are refused with OPOSC_E_ILLEGAL. Events are delivered on the
 * opening thread while it pumps: inside calls that wait, in
 * opos_pump_events() / opos_dispatch_events(), or from the caller's own loop
 * polling opos_event_fd().
 */
#ifndef OPOS_OPOS_C_H
#define OPOS_OPOS_C_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define OPOSC_API __attribute__((visibility("default")))

/* Result codes. */
enum {
  OPOSC_SUCCESS = 0,
  OPOSC_E_CLOSED = 101,
  OPOSC_E_CLAIMED = 102,
  OPOSC_E_NOTCLAIMED = 103,
  OPOSC_E_NOSERVICE = 104,
  OPOSC_E_DISABLED = 105,
  OPOSC_E_ILLEGAL = 106,
  OPOSC_E_NOHARDWARE = 107,
  OPOSC_E_OFFLINE = 108,
  OPOSC_E_NOEXIST = 109,
  OPOSC_E_EXISTS = 110,
  OPOSC_E_FAILURE = 111,
  OPOSC_E_TIMEOUT = 112,
  OPOSC_E_BUSY = 113,
  OPOSC_E_EXTENDED = 114
};

/* Device classes (opos_device_class). */
enum { OPOSC_POSPRINTER = 1, OPOSC_CASHDRAWER = 2 };

/* Event types and the answers to an Error event. */
enum { OPOSC_EV_STATUS_UPDATE = 1, OPOSC_EV_ERROR = 2, OPOSC_EV_OUTPUT_COMPLETE = 3, OPOSC_EV_DIRECT_IO = 4 };
enum { OPOSC_ER_RETRY = 11, OPOSC_ER_CLEAR = 12 };

/* Property indexes for opos_get/set_property_number and _string. */
enum {
  OPOSC_PIDX_CLAIMED = 1,
  OPOSC_PIDX_DEVICE_ENABLED = 3,
  OPOSC_PIDX_FREEZE_EVENTS = 4,
  OPOSC_PIDX_OUTPUT_ID = 5,
  OPOSC_PIDX_RESULT_CODE = 6,
  OPOSC_PIDX_RESULT_CODE_EXTENDED = 7,
  OPOSC_PIDX_SERVICE_OBJECT_VERSION = 8,
  OPOSC_PIDX_STATE = 9,
  OPOSC_PIDX_BINARY_CONVERSION = 11,
  OPOSC_PIDX_POWER_NOTIFY = 13,
  OPOSC_PIDX_POWER_STATE = 14,
  OPOSC_PIDX_CAP_POWER_REPORTING = 501,
  OPOSC_PIDX_CHECK_HEALTH_TEXT = 1000001,
  OPOSC_PIDX_DEVICE_DESCRIPTION = 1000002,
  OPOSC_PIDX_DEVICE_NAME = 1000003,
  OPOSC_PIDX_SERVICE_OBJECT_DESCRIPTION = 1000004,
  /* POSPrinter */
  OPOSC_PIDX_PTR_ASYNC_MODE = 8001,
  OPOSC_PIDX_PTR_CHARACTER_SET = 8002,
  OPOSC_PIDX_PTR_COVER_OPEN = 8003,
  OPOSC_PIDX_PTR_ERROR_STATION = 8004,
  OPOSC_PIDX_PTR_FLAG_WHEN_IDLE = 8005,
  OPOSC_PIDX_PTR_MAP_MODE = 8013,
  OPOSC_PIDX_PTR_REC_EMPTY = 8014,
  OPOSC_PIDX_PTR_REC_LINE_CHARS = 8016,
  OPOSC_PIDX_PTR_REC_LINE_HEIGHT = 8017,
  OPOSC_PIDX_PTR_REC_LINE_SPACING = 8018,
  OPOSC_PIDX_PTR_REC_LINES_TO_PAPER_CUT = 8019,
  OPOSC_PIDX_PTR_REC_LINE_WIDTH = 8020,
  OPOSC_PIDX_PTR_REC_NEAR_END = 8021,
  OPOSC_PIDX_PTR_ERROR_LEVEL = 8035,
  OPOSC_PIDX_PTR_ROTATE_SPECIAL = 8036,
  OPOSC_PIDX_PTR_CHARACTER_SET_LIST = 1008001,
  OPOSC_PIDX_PTR_ERROR_STRING = 1008005,
  /* CashDrawer */
  OPOSC_PIDX_CASH_CAP_STATUS = 1501,
  OPOSC_PIDX_CASH_DRAWER_OPENED = 1001
};

typedef struct opos_device opos_device;

/* One delivered event. Valid only during the callback. */
typedef struct opos_event {
  size_t size;                  /* sizeof(opos_event) of the library */
  int32_t type;                 /* OPOSC_EV_* */
  int32_t data;                 /* StatusUpdate Data, OutputComplete OutputID, DirectIO Data (in/out) */
  int32_t result_code;          /* Error */
  int32_t result_code_extended; /* Error */
  int32_t error_locus;          /* Error */
  int32_t error_response;       /* Error: the proposed response; set the answer here */
  int32_t event_number;         /* DirectIO */
  const char* text;             /* DirectIO string (borrowed); replace with opos_event_set_text */
} opos_event;

/* Called on the opening thread, one event at a time. It must not close,
 * release or free its own device. */
typedef void (*opos_event_fn)(opos_device* device, opos_event* event, void* user);

/* Handles. NULL when out of memory. opos_device_free closes an open device;
 * it must not be called from the device's own event callback. */
OPOSC_API opos_device* opos_printer_new(void);
OPOSC_API opos_device* opos_cash_drawer_new(void);
OPOSC_API void opos_device_free(opos_device* device);
OPOSC_API int32_t opos_device_class(const opos_device* device);

/* Events: one callback per handle (NULL removes it); set before opos_open. */
OPOSC_API void opos_set_event_callback(opos_device* device, opos_event_fn fn, void* user);
/* Replaces the DirectIO string an event returns to the Service Object. */
OPOSC_API void opos_event_set_text(opos_event* event, const char* text);
/* Readable while deliveries wait for the opening thread; -1 before opos_open. */
OPOSC_API int opos_event_fd(const opos_device* device);
/* Delivers what waits now; the number delivered. */
OPOSC_API size_t opos_dispatch_events(opos_device* device);
/* Delivers events as they arrive for `ms` milliseconds. */
OPOSC_API void opos_pump_events(opos_device* device, int ms);

/* Lifecycle. `name` is a device key or logical device name. */
OPOSC_API int32_t opos_open(opos_device* device, const char* name);
OPOSC_API int32_t opos_close(opos_device* device);
OPOSC_API const char* opos_last_error_text(const opos_device* device);
OPOSC_API void opos_string_free(char* text);

/* Common methods. */
OPOSC_API int32_t opos_claim_device(opos_device* device, int32_t timeout);
OPOSC_API int32_t opos_release_device(opos_device* device);
OPOSC_API int32_t opos_check_health(opos_device* device, int32_t level);
/* `data` in/out; `text` in; `*text_out` (if text_out is not NULL) receives the
 * returned string, to be freed with opos_string_free. */
OPOSC_API int32_t opos_direct_io(opos_device* device, int32_t command, int32_t* data, const char* text,
                                 char** text_out);

/* Properties by index (OPOSC_PIDX_*). The getter of a string returns a new
 * string (free it), or NULL when out of memory. */
OPOSC_API int32_t opos_get_property_number(opos_device* device, int32_t index);
OPOSC_API void opos_set_property_number(opos_device* device, int32_t index, int32_t value);
OPOSC_API char* opos_get_property_string(opos_device* device, int32_t index);
OPOSC_API void opos_set_property_string(opos_device* device, int32_t index, const char* value);
/* Shorthands for the ones every program reads. */
OPOSC_API int32_t opos_result_code(opos_device* device);
OPOSC_API int32_t opos_result_code_extended(opos_device* device);
OPOSC_API int32_t opos_state(opos_device* device);
OPOSC_API void opos_set_device_enabled(opos_device* device, int enabled);

/* POSPrinter methods. */
OPOSC_API int32_t opos_printer_clear_output(opos_device* printer);
OPOSC_API int32_t opos_printer_begin_insertion(opos_device* printer, int32_t timeout);
OPOSC_API int32_t opos_printer_begin_removal(opos_device* printer, int32_t timeout);
OPOSC_API int32_t opos_printer_end_insertion(opos_device* printer);
OPOSC_API int32_t opos_printer_end_removal(opos_device* printer);
OPOSC_API int32_t opos_printer_cut_paper(opos_device* printer, int32_t percentage);
OPOSC_API int32_t opos_printer_print_bar_code(opos_device* printer, int32_t station, const char* data,
                                              int32_t symbology, int32_t height, int32_t width,
                                              int32_t alignment, int32_t text_position);
OPOSC_API int32_t opos_printer_print_bitmap(opos_device* printer, int32_t station, const char* file_name,
                                            int32_t width, int32_t alignment);
OPOSC_API int32_t opos_printer_print_immediate(opos_device* printer, int32_t station, const char* data);
OPOSC_API int32_t opos_printer_print_normal(opos_device* printer, int32_t station, const char* data);
/* Print data with embedded zero bytes: `length` bytes of `data`. */
OPOSC_API int32_t opos_printer_print_normal_n(opos_device* printer, int32_t station, const char* data,
                                              size_t length);
OPOSC_API int32_t opos_printer_print_two_normal(opos_device* printer, int32_t stations, const char* data1,
                                                const char* data2);
OPOSC_API int32_t opos_printer_rotate_print(opos_device* printer, int32_t station, int32_t rotation);
OPOSC_API int32_t opos_printer_set_bitmap(opos_device* printer, int32_t bitmap_number, int32_t station,
                                          const char* file_name, int32_t width, int32_t alignment);
OPOSC_API int32_t opos_printer_set_logo(opos_device* printer, int32_t location, const char* data);
OPOSC_API int32_t opos_printer_transaction_print(opos_device* printer, int32_t station, int32_t control);
OPOSC_API int32_t opos_printer_validate_data(opos_device* printer, int32_t station, const char* data);

/* CashDrawer methods. */
OPOSC_API int32_t opos_drawer_open_drawer(opos_device* drawer);
OPOSC_API int32_t opos_drawer_wait_for_drawer_close(opos_device* drawer, int32_t beep_timeout,
                                                    int32_t beep_frequency, int32_t beep_duration,
                                                    int32_t beep_delay);

#ifdef __cplusplus
}
#endif

#endif /* OPOS_OPOS_C_H */
