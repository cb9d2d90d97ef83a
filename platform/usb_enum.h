// USB printer enumeration over sysfs: stands in for the Setup API listing of the
// USB printer interface class.
//
// A printer is bound by the physical socket it is plugged into, not by a driver
// instance: the device path "usb:1-1.4" names bus 1, ports 1 then 4. The kernel
// may number the printer's character device differently after a re-plug
// (/dev/usb/lp0 today, lp1 tomorrow), the socket stays the same.
//
// The sysfs root is $OPOS_SYSFS_ROOT when set and not empty (a tree laid out like
// /sys, so devices live in ROOT/bus/usb/devices), else /sys. Every function here
// reads the tree afresh; nothing is cached.
#pragma once

#include <string>
#include <vector>

namespace opos::usb {

// The maker's printers: vendor and product IDs, as sysfs spells them (4 hex digits).
struct UsbId {
  const char* vendor;
  const char* product;
};
inline constexpr UsbId kMakerPrinterIds[] = {
    {"0483", "a049"},
    {"0483", "a036"},
    {"067b", "2305"},
};

struct UsbPrinter {
  std::string devicePath;  // "usb:" + sysfs device name, e.g. "usb:1-1.4"
  std::string sysfsName;   // "1-1.4"
  std::string vendorId;    // upper-case, e.g. "0483"
  std::string productId;   // upper-case, e.g. "A049"
};

// ROOT as described above.
std::string SysfsRoot();

// The maker's printers present now, in a stable order: by bus number, then by the
// port chain compared number by number (1-1.2 before 1-1.10). A printer counts
// whether or not a printer driver is bound to it yet.
std::vector<UsbPrinter> EnumerateMakerPrinters();

// Devices of every bus present now (entries of ROOT/bus/*/devices), for the
// setup tool's count of all devices in the system.
int CountPresentDevices();

// True when text is a device path of the form written by EnumerateMakerPrinters.
bool IsUsbDevicePath(const std::string& text);

// The character device through which the printer in that socket is reached now:
// the usbmisc/lpN node of one of the device's interfaces, as devDir + "/lpN"
// (devDir is $OPOS_USB_DEV_DIR when set, else /dev/usb). An absolute path is
// returned as it stands, so a configuration may name a device node directly.
// Returns empty, with a reason in *error when error is not null, when nothing is
// plugged into that socket or no printer driver serves it.
std::string ResolveUsbDevicePath(const std::string& devicePath, std::string* error = nullptr);

}  // namespace opos::usb
