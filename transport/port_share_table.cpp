#include "transport/port_share_table.h"

#include <algorithm>

namespace opos {

SharedDevice::~SharedDevice() {
  platform::CloseDevice(fd_);
}

PortShareTable& PortShareTable::Instance() {
  static PortShareTable table;
  return table;
}

std::optional<PortShareTable::Slot>* PortShareTable::SlotOf(const CPortObject* member) {
  for (auto& slot : slots_) {
    if (!slot) continue;
    for (const Member& m : slot->members) {
      if (m.port == member) return &slot;
    }
  }
  return nullptr;
}

const std::optional<PortShareTable::Slot>* PortShareTable::SlotOf(const CPortObject* member) const {
  return const_cast<PortShareTable*>(this)->SlotOf(member);
}

PortShareTable::AttachResult PortShareTable::Attach(
    CPortObject* member, const platform::DeviceIdentity& id,
    const std::function<std::shared_ptr<SharedDevice>()>& opener, std::shared_ptr<SharedDevice>* device) {
  const bool drawerSide = member->IsDrawerSide();
  Member me{member, drawerSide ? nullptr : member->printer.load(),
            drawerSide ? member->drawer.load() : nullptr};
  std::lock_guard<std::mutex> guard(lock_);
  if (SlotOf(member) != nullptr) return AttachResult::kSameKindInUse;  // already on a port

  for (auto& slot : slots_) {
    if (!slot || !(slot->id == id)) continue;
    for (const Member& m : slot->members) {
      if (m.port->IsDrawerSide() == drawerSide) return AttachResult::kSameKindInUse;
    }
    for (const Member& m : slot->members) {
      if (me.ownPrinter != nullptr) {
        m.port->printer.store(me.ownPrinter);
        if (m.ownDrawer != nullptr) member->drawer.store(m.ownDrawer);
      } else if (me.ownDrawer != nullptr) {
        m.port->drawer.store(me.ownDrawer);
        if (m.ownPrinter != nullptr) member->printer.store(m.ownPrinter);
      }
    }
    slot->members.push_back(me);
    *device = slot->device;
    return AttachResult::kJoined;
  }

  auto free = std::find_if(slots_.begin(), slots_.end(), [](const auto& s) { return !s.has_value(); });
  if (free == slots_.end()) return AttachResult::kTableFull;
  auto opened = opener();
  if (!opened) return AttachResult::kOpenFailed;
  free->emplace(Slot{id, std::move(opened), {me}});
  *device = (*free)->device;
  return AttachResult::kOpened;
}

void PortShareTable::Detach(CPortObject* member) {
  std::lock_guard<std::mutex> guard(lock_);
  auto* slot = SlotOf(member);
  if (slot == nullptr) return;
  auto& members = (*slot)->members;
  auto it = std::find_if(members.begin(), members.end(), [&](const Member& m) { return m.port == member; });
  const Member leaving = *it;
  members.erase(it);  // the next one in line (if any) now owns the slot
  for (const Member& m : members) {
    if (leaving.ownPrinter != nullptr) {
      IPrinterLink* expected = leaving.ownPrinter;
      m.port->printer.compare_exchange_strong(expected, nullptr);
    }
    if (leaving.ownDrawer != nullptr) {
      IDrawerLink* expected = leaving.ownDrawer;
      m.port->drawer.compare_exchange_strong(expected, nullptr);
    }
  }
  if (members.empty()) slot->reset();
}

bool PortShareTable::ForEachOnPort(const CPortObject* member, const std::function<void(CPortObject&)>& fn) {
  std::lock_guard<std::mutex> guard(lock_);
  auto* slot = SlotOf(member);
  if (slot == nullptr) return false;
  for (const Member& m : (*slot)->members) {
    if (m.port == member) fn(*m.port);
  }
  for (const Member& m : (*slot)->members) {
    if (m.port != member) fn(*m.port);
  }
  return true;
}

int PortShareTable::UsersOf(const CPortObject* member) const {
  std::lock_guard<std::mutex> guard(lock_);
  const auto* slot = SlotOf(member);
  return slot == nullptr ? 0 : static_cast<int>((*slot)->members.size());
}

bool PortShareTable::IsOwner(const CPortObject* member) const {
  std::lock_guard<std::mutex> guard(lock_);
  const auto* slot = SlotOf(member);
  return slot != nullptr && (*slot)->members.front().port == member;
}

int PortShareTable::OpenSlots() const {
  std::lock_guard<std::mutex> guard(lock_);
  return static_cast<int>(
      std::count_if(slots_.begin(), slots_.end(), [](const auto& s) { return s.has_value(); }));
}

}  // namespace opos
