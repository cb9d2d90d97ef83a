// Live objects and factory locks of this library, for DllCanUnloadNow.
#pragma once

#include <atomic>

namespace opos {

class ObjectCount {
 public:
  static void Increment() { Count().fetch_add(1); }
  static void Decrement() { Count().fetch_sub(1); }
  static void Lock() { Locks().fetch_add(1); }
  static void Unlock() { Locks().fetch_sub(1); }
  static bool CanUnload() { return Count().load() == 0 && Locks().load() == 0; }

 private:
  static std::atomic<long>& Count() {
    static std::atomic<long> c{0};
    return c;
  }
  static std::atomic<long>& Locks() {
    static std::atomic<long> c{0};
    return c;
  }
};

}  // namespace opos
