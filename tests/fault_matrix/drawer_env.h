// The receipt environment with a cash drawer key on the printer's port.
#pragma once

#include "tests/receipt/receipt_env.h"

namespace opos::receipt {

class DrawerEnvironment : public ReceiptEnvironment {
 protected:
  // The device "Drawer" on the link of OpenPrinter's virtual printer.
  void AddDrawerKey() {
    const std::string key = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\CashDrawer\\Drawer";
    SetSz(key, "", "KELVORA.CashDrawer.SO");
    for (auto [n, v] : {std::pair<const char*, uint32_t>{"Baudrate", 6},
                        {"BitLength", 8},
                        {"HandShake", 0},
                        {"Parity", 0},
                        {"Stop", 1},
                        {"XonXoff", 0},
                        {"ConnectorPinNo", 2},
                        {"OpenLevel", 1}}) {
      SetDword(key, n, v);
    }
    SetSz(key, "Port", dir_ + "/printer");
    SetSz(key, "DeviceName", "StandardCash");
  }
};

}  // namespace opos::receipt
