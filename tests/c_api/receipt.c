/* A receipt and the cash drawer through the C interface, compiled as C: the
 * printer prints asynchronously in code page 850 while the program waits for
 * its OutputComplete events on the event descriptor with poll(); the drawer
 * opens and closes (the virtual printer closes it by itself) with its status
 * events. Then the printer's capture must hold the converted text and the
 * drawer kick.
 *
 * Usage: receipt PRINTER DRAWER; the capture file is $OPOS_TEST_CAPTURE. */
#define _GNU_SOURCE
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "opos/opos_c.h"

struct counts {
  int status[2]; /* drawer closed (0), open (1) */
  int completed;
  int32_t last_output_id;
  int errors;
};

static void on_event(opos_device* device, opos_event* ev, void* user) {
  struct counts* c = (struct counts*)user;
  (void)device;
  switch (ev->type) {
    case OPOSC_EV_OUTPUT_COMPLETE:
      c->completed++;
      c->last_output_id = ev->data;
      break;
    case OPOSC_EV_STATUS_UPDATE:
      if (ev->data == 0 || ev->data == 1) c->status[ev->data]++;
      break;
    case OPOSC_EV_ERROR:
      c->errors++;
      ev->error_response = OPOSC_ER_CLEAR;
      break;
  }
  printf("event type %d data %d\n", (int)ev->type, (int)ev->data);
}

static int fail(opos_device* d, const char* what, int32_t rc) {
  fprintf(stderr, "%s: %d (extended %d) %s\n", what, (int)rc, (int)opos_result_code_extended(d),
          opos_last_error_text(d));
  return 1;
}

#define CHECK(d, what, call)                             \
  do {                                                   \
    int32_t rc_ = (call);                                \
    if (rc_ != OPOSC_SUCCESS) return fail(d, what, rc_); \
  } while (0)

/* Waits on the event descriptor until `done` holds or 5 s pass. */
static int wait_events(opos_device* d, const int* value, int wanted) {
  for (int round = 0; round < 50 && *value < wanted; ++round) {
    struct pollfd p = {opos_event_fd(d), POLLIN, 0};
    if (poll(&p, 1, 100) > 0) opos_dispatch_events(d);
  }
  return *value >= wanted;
}

static int print_receipt(const char* name, struct counts* c) {
  opos_device* p = opos_printer_new();
  if (p == NULL) return 1;
  opos_set_event_callback(p, on_event, c);
  CHECK(p, "open printer", opos_open(p, name));
  CHECK(p, "claim", opos_claim_device(p, 1000));
  opos_set_device_enabled(p, 1);
  CHECK(p, "enable", opos_result_code(p));
  opos_set_property_number(p, OPOSC_PIDX_PTR_CHARACTER_SET, 850);
  CHECK(p, "CharacterSet", opos_result_code(p));
  opos_set_property_number(p, OPOSC_PIDX_PTR_ASYNC_MODE, 1);
  static const char* const lines[] = {
      "\x1b|cA\x1b|bCCAF\xc3\x89 GR\xc3\x9c\xc3\x9f"
      "E\x1b|N\n",
      "Caf\xc3\xa9 cr\xc3\xa8me       2,40 \xe2\x82\xac\n",
      "\x1b|bCTotal            2,40\x1b|N\n",
  };
  for (size_t i = 0; i < sizeof lines / sizeof lines[0]; ++i) {
    CHECK(p, "print", opos_printer_print_normal(p, 2, lines[i]));
  }
  CHECK(p, "barcode", opos_printer_print_bar_code(p, 2, "4006381333931", 104, 80, 200, -2, -13));
  CHECK(p, "cut", opos_printer_cut_paper(p, 100));
  const int32_t last = opos_get_property_number(p, OPOSC_PIDX_OUTPUT_ID);
  if (!wait_events(p, &c->completed, 5)) return fail(p, "OutputComplete events", c->completed);
  if (c->last_output_id != last) return fail(p, "last OutputID", c->last_output_id);
  char* description = opos_get_property_string(p, OPOSC_PIDX_DEVICE_DESCRIPTION);
  printf("printed on %s\n", description != NULL ? description : "?");
  opos_string_free(description);
  CHECK(p, "close", opos_close(p));
  opos_device_free(p);
  return 0;
}

static int cycle_drawer(const char* name, struct counts* c) {
  opos_device* d = opos_cash_drawer_new();
  if (d == NULL) return 1;
  opos_set_event_callback(d, on_event, c);
  if (opos_printer_print_normal(d, 2, "x") != OPOSC_E_ILLEGAL) return fail(d, "printer call on a drawer", 0);
  CHECK(d, "open drawer device", opos_open(d, name));
  CHECK(d, "claim drawer", opos_claim_device(d, 1000));
  opos_set_device_enabled(d, 1);
  CHECK(d, "enable drawer", opos_result_code(d));
  if (!wait_events(d, &c->status[0], 1)) return fail(d, "drawer closed at enable", 0);
  CHECK(d, "OpenDrawer", opos_drawer_open_drawer(d));
  if (!wait_events(d, &c->status[1], 1)) return fail(d, "drawer open event", 0);
  CHECK(d, "WaitForDrawerClose", opos_drawer_wait_for_drawer_close(d, 5000, 1000, 100, 500));
  if (!wait_events(d, &c->status[0], 2)) return fail(d, "drawer closed event", 0);
  opos_device_free(d); /* closes */
  return 0;
}

static int capture_holds(const char* path, const char* bytes, size_t n) {
  FILE* f = fopen(path, "rb");
  if (f == NULL) return 0;
  static char buf[1 << 16];
  const size_t len = fread(buf, 1, sizeof buf, f);
  fclose(f);
  return memmem(buf, len, bytes, n) != NULL;
}

int main(int argc, char** argv) {
  const char* capture = getenv("OPOS_TEST_CAPTURE");
  if (argc != 3 || capture == NULL) {
    fprintf(stderr, "usage: OPOS_TEST_CAPTURE=FILE receipt PRINTER DRAWER\n");
    return 2;
  }
  struct counts c = {{0, 0}, 0, 0, 0};
  if (print_receipt(argv[1], &c) != 0 || cycle_drawer(argv[2], &c) != 0) return 1;
  /* Code page 850: É 0x90, Ü 0x9A, ß 0xE1, é 0x82, è 0x8A; no euro sign. */
  static const char heading[] =
      "CAF\x90 GR\x9a\xe1"
      "E";
  static const char item[] = "Caf\x82 cr\x8ame       2,40 ?\n";
  static const char kick[] = "\x1bp";
  if (!capture_holds(capture, heading, sizeof heading - 1) ||
      !capture_holds(capture, item, sizeof item - 1) || !capture_holds(capture, kick, sizeof kick - 1)) {
    fprintf(stderr, "the printer did not receive the converted receipt and the drawer kick\n");
    return 1;
  }
  printf("receipt printed, drawer cycled: %d OutputComplete, %d errors\n", c.completed, c.errors);
  return 0;
}
