/* Per-call cost of the C interface from C, on an open printer: the floor
 * that bench/python_binding.py compares the Python package with. Run by hand
 * against the virtual printer (see bench/python_binding.py). */
#define _POSIX_C_SOURCE 199309L
#include <stdio.h>
#include <time.h>

#include "opos/opos_c.h"

enum { kCalls = 200000 };

static double now_ns(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec * 1e9 + (double)t.tv_nsec;
}

int main(int argc, char** argv) {
  opos_device* p = opos_printer_new();
  if (p == NULL || opos_open(p, argc > 1 ? argv[1] : "FrontPrinter") != OPOSC_SUCCESS ||
      opos_claim_device(p, 1000) != OPOSC_SUCCESS) {
    fprintf(stderr, "cannot open the printer: %s\n", p != NULL ? opos_last_error_text(p) : "");
    return 1;
  }
  opos_set_device_enabled(p, 1);
  double best_rc = 1e18, best_validate = 1e18;
  for (int round = 0; round < 5; ++round) {
    double t0 = now_ns();
    for (int i = 0; i < kCalls; ++i) (void)opos_result_code(p);
    double t1 = now_ns();
    for (int i = 0; i < kCalls; ++i) (void)opos_printer_validate_data(p, 2, "Total 12.50");
    double t2 = now_ns();
    if ((t1 - t0) / kCalls < best_rc) best_rc = (t1 - t0) / kCalls;
    if ((t2 - t1) / kCalls < best_validate) best_validate = (t2 - t1) / kCalls;
  }
  printf("ResultCode     C API from C     %7.0f ns\n", best_rc);
  printf("ValidateData   C API from C     %7.0f ns\n", best_validate);
  opos_device_free(p);
  return 0;
}
