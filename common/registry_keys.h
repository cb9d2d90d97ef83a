// Where the OPOS configuration lives in the registry (under
// HKEY_LOCAL_MACHINE): the Service Objects and Control Objects read the class
// keys, the setup tool writes them.
#pragma once

namespace opos {

inline constexpr const char kServiceOposKey[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS";
inline constexpr const char kPosPrinterClassKey[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\POSPrinter";
inline constexpr const char kCashDrawerClassKey[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\CashDrawer";
// The setup tool's scratch pairs while its add dialog is open.
inline constexpr const char kSetupScratchKey[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\Temp";

}  // namespace opos
