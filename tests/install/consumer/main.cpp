// An application built against the installed Control Object API only: opens a
// printer by its logical name, prints a line and cuts.
#include <cstdio>
#include <string>

#include <opos/pos_printer.h>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: consumer DEVICE TEXT\n");
    return 2;
  }
  opos::control::POSPrinter printer;
  if (printer.Open(argv[1]) != 0) {
    std::fprintf(stderr, "consumer: cannot open %s: %s\n", argv[1], printer.LastErrorText().c_str());
    return 1;
  }
  int rc = printer.ClaimDevice(3000);
  if (rc == 0) {
    printer.SetDeviceEnabled(true);
    rc = printer.ResultCode();
  }
  if (rc == 0) rc = printer.PrintNormal(2, std::string(argv[2]) + "\n");
  if (rc == 0) rc = printer.CutPaper(100);
  if (rc != 0) std::fprintf(stderr, "consumer: %s answered %d\n", argv[1], rc);
  printer.Close();
  return rc == 0 ? 0 : 1;
}
