// PortShareTable: the printer-side and drawer-side port objects of one
// library that name the same device share one open descriptor. One table per
// library (each library links its own copy of this code), process-wide.
// Across processes a device has one owner: the slot's device holds the
// device's platform::PortLock for as long as it is open.
//
// Ports are matched by device identity, not by name, so "COM10", a link to a
// device and the device's own path all find the same slot.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/port_object.h"
#include "platform/device_io.h"
#include "platform/port_lock.h"

namespace opos {

// The open device of one slot and its cross-process lock. The descriptor is
// closed (and the lock dropped) when the last port object lets go of it, so
// no one ever uses a closed or recycled descriptor.
class SharedDevice {
 public:
  SharedDevice(int fd, std::string path, platform::PortLock lock)
      : fd_(fd), path_(std::move(path)), lock_(std::move(lock)) {}
  ~SharedDevice();
  SharedDevice(const SharedDevice&) = delete;
  SharedDevice& operator=(const SharedDevice&) = delete;

  int Fd() const { return fd_; }
  // The path it was opened by, for failure causes.
  const std::string& Path() const { return path_; }
  // Held for a whole Write, so that the drawer's pulse never lands inside
  // the printer's command bytes. Lock order: this before the table lock.
  std::mutex& WriteLock() { return writeLock_; }

 private:
  const int fd_;
  const std::string path_;
  platform::PortLock lock_;
  std::mutex writeLock_;
};

class PortShareTable {
 public:
  static constexpr int kSlots = 4;

  enum class AttachResult { kOpened, kJoined, kSameKindInUse, kTableFull, kOpenFailed };

  static PortShareTable& Instance();

  // Joins the slot of device id, or opens the device in a free slot with
  // opener (called under the table lock; the open device or null). A joiner
  // and the port objects already there learn each other's services.
  [[nodiscard]] AttachResult Attach(CPortObject* member, const platform::DeviceIdentity& id,
                                    const std::function<std::shared_ptr<SharedDevice>()>& opener,
                                    std::shared_ptr<SharedDevice>* device);
  // Leaves the slot: the others forget this object's service, the next
  // object becomes the owner; the last one out frees the slot.
  void Detach(CPortObject* member);

  // Runs fn for every port object on member's port (member first), under the
  // table lock, so none of them (nor the services they link) can leave
  // meanwhile. False when member is on no port.
  bool ForEachOnPort(const CPortObject* member, const std::function<void(CPortObject&)>& fn);

  int UsersOf(const CPortObject* member) const;
  bool IsOwner(const CPortObject* member) const;
  int OpenSlots() const;

 private:
  struct Member {
    CPortObject* port;
    IPrinterLink* ownPrinter;  // the service that claimed this port object
    IDrawerLink* ownDrawer;
  };
  struct Slot {
    platform::DeviceIdentity id;
    std::shared_ptr<SharedDevice> device;
    std::vector<Member> members;  // members[0] owns the slot
  };

  std::optional<Slot>* SlotOf(const CPortObject* member);
  const std::optional<Slot>* SlotOf(const CPortObject* member) const;

  mutable std::mutex lock_;
  std::array<std::optional<Slot>, kSlots> slots_;
};

}  // namespace opos
