// The port object interface shared by the serial, parallel and USB transports.
// One port object per Service Object instance, owned by it. Printer and drawer
// port objects of one library that name the same device share one open handle.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "common/device_config.h"

namespace opos::platform {
class TraceWriter;
}

namespace opos {

class CPortObject;

// What a port object may call on the printer service attached to it. The port
// calls these from its status reader while holding the port share table's
// lock (so the service cannot be detached meanwhile): they must only set
// cells, never block or call back into a port object.
class IPrinterLink {
 public:
  virtual void SetProcessIdSeen() = 0;  // the process-ID reply arrived
  virtual void MarkImagesLost() = 0;    // the printer lost its downloaded images (CTS dropped)
  // A status report has just been applied to the port's status cells.
  virtual void StatusReportArrived() {}

  // Read by the drawer service on the same port, from any of its threads,
  // before it sends its pulse or reads the sensor: plain cell reads only.
  // bBusy: output is queued or being sent.
  virtual bool OutputBusy() const { return false; }
  // lastSyncOutputTime (a TickCount value); 0 while nothing was sent since the claim.
  virtual uint32_t LastOutputTick() const { return 0; }
  // The printer's own port object, whose status reader keeps drawerSensorLow
  // and errorLatched; null makes the drawer read its own port object.
  virtual const CPortObject* PrinterPort() const { return nullptr; }

 protected:
  ~IPrinterLink() = default;
};

// The drawer service attached to a port object (no calls needed yet; the
// pointer identifies it).
class IDrawerLink {
 protected:
  ~IDrawerLink() = default;
};

class CPortObject {
 public:
  virtual ~CPortObject() = default;

  // Model name from the configuration; "Standard..." marks a drawer-side port object.
  void SetName(const std::string& deviceName) { name = deviceName; }
  bool IsDrawerSide() const { return name.compare(0, 8, "Standard") == 0; }
  // Told by ClaimDevice before Open: exactly one of the two is non-null.
  void SetOwner(IPrinterLink* p, IDrawerLink* d) {
    printer.store(p);
    drawer.store(d);
  }

  // Runs fn with the printer service attached to this port object; false when
  // none is. Drawer threads read the printer through this: a transport whose
  // services can leave the port concurrently overrides it to keep the printer
  // attached (and alive) while fn runs. fn only reads cells.
  virtual bool WithPrinter(const std::function<void(const IPrinterLink&)>& fn) const {
    IPrinterLink* p = printer.load();
    if (!p) return false;
    fn(*p);
    return true;
  }

  // Contracts (caller thread; may block on; result):
  // Open: application thread; blocks only on the device open; 1 opened or joined, 0 failed.
  virtual int Open(const DeviceConfig& config) = 0;
  // StartMonitor: application thread, once after Open; 0 ready or an OPOS result code.
  virtual int32_t StartMonitor(uint32_t timeoutMs) = 0;
  // Write: any service thread; blocks at most the per-chunk limit per chunk; 1 all written, 0 failed.
  virtual int Write(const uint8_t* bytes, size_t length) = 0;
  // Read: status reader; never blocks; number of bytes placed in buffer.
  virtual int Read(uint8_t* buffer, size_t maxBytes) = 0;
  // CheckReady: any service thread; 0, 201 cover open, 203 paper end or 106.
  virtual int32_t CheckReady() = 0;
  // Close: application thread; waits for this object's status reader to end.
  virtual void Close() = 0;
  // CtsOn: any thread; never blocks; the CTS line now (serial only; a port
  // without modem lines, and every other transport, answers true).
  virtual bool CtsOn() { return true; }
  // FailureDetail: any thread; why the last Open or Write failed (the path
  // tried and the reason), "" after a successful Open with no failure since.
  virtual std::string FailureDetail() const { return {}; }

  std::string name;
  std::atomic<int32_t> opened{0};
  std::atomic<int32_t> drawerSensorLow{0};
  std::atomic<int32_t> coverOpen{0};
  std::atomic<int32_t> paperEnd{0};
  std::atomic<int32_t> statusError{0};
  std::atomic<int32_t> errorLatched{0};
  std::atomic<int32_t> bFastPoll{0};
  std::atomic<int32_t> ctsLost{0};
  std::atomic<int32_t> monitoring{0};  // StartMonitor found the port ready
  // The device itself is gone (unplugged, hung up): no report will ever clear
  // it on this open handle. Cleared by StartMonitor.
  std::atomic<int32_t> deviceLost{0};
  std::atomic<IPrinterLink*> printer{nullptr};
  std::atomic<IDrawerLink*> drawer{nullptr};
  // The owning service's field trace (null: off); set before Open.
  std::atomic<platform::TraceWriter*> trace{nullptr};
};

}  // namespace opos
