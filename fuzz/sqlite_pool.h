// SQLite's memory from free lists kept for the whole run instead of from the
// sanitizer's allocator, which costs a run of many small store calls most of
// its time. Each block stays poisoned but for the bytes SQLite asked for, so
// code under test that reads past a buffer SQLite handed it (or into a freed
// one) is still caught. Call before the first SQLite call of the process.
#pragma once

#include <sanitizer/asan_interface.h>
#include <sqlite3.h>

#include <cstdlib>
#include <cstring>

namespace fuzz {

// Not instrumented for coverage: its branches say nothing about the input.
#define FUZZ_NO_COVERAGE __attribute__((no_sanitize("coverage")))

class SqlitePool {
 public:
  static bool Install() {
    static const sqlite3_mem_methods methods = {Malloc,  Free, Realloc,  Size,
                                                Roundup, Init, Shutdown, nullptr};
    return sqlite3_config(SQLITE_CONFIG_MALLOC, &methods) == SQLITE_OK;
  }

 private:
  // Sits before every block; never poisoned.
  struct alignas(16) Head {
    Head* next;      // on a free list
    unsigned cls;    // size class: 16 << cls bytes, kClasses for a block of its own
    unsigned asked;  // bytes SQLite asked for
  };
  static constexpr unsigned kClasses = 13;  // 16 bytes .. 64 KiB

  static Head** Lists() {
    static Head* lists[kClasses] = {};
    return lists;
  }
  FUZZ_NO_COVERAGE static unsigned ClassOf(int n) {
    if (n <= 16) return 0;
    const unsigned c = 32 - __builtin_clz(static_cast<unsigned>(n - 1)) - 4;
    return c < kClasses ? c : kClasses;
  }
  static Head* HeadOf(void* p) { return static_cast<Head*>(p) - 1; }

  FUZZ_NO_COVERAGE static void* Malloc(int n) {
    if (n <= 0) return nullptr;
    const unsigned c = ClassOf(n);
    Head* h = c < kClasses ? Lists()[c] : nullptr;
    if (h != nullptr) {
      Lists()[c] = h->next;
    } else {
      h = static_cast<Head*>(std::malloc(sizeof(Head) + (c < kClasses ? 16u << c : n)));
      if (h == nullptr) return nullptr;
      h->cls = c;
    }
    h->asked = static_cast<unsigned>(n);
    if (c < kClasses) ASAN_POISON_MEMORY_REGION(h + 1, 16u << c);
    ASAN_UNPOISON_MEMORY_REGION(h + 1, n);
    return h + 1;
  }
  FUZZ_NO_COVERAGE static void Free(void* p) {
    if (p == nullptr) return;
    Head* h = HeadOf(p);
    if (h->cls >= kClasses) {
      std::free(h);
      return;
    }
    ASAN_POISON_MEMORY_REGION(p, 16u << h->cls);
    h->next = Lists()[h->cls];
    Lists()[h->cls] = h;
  }
  FUZZ_NO_COVERAGE static void* Realloc(void* p, int n) {
    Head* h = HeadOf(p);
    if (h->cls < kClasses && n > 0 && static_cast<unsigned>(n) <= 16u << h->cls) {
      ASAN_POISON_MEMORY_REGION(p, 16u << h->cls);
      ASAN_UNPOISON_MEMORY_REGION(p, n);
      h->asked = static_cast<unsigned>(n);
      return p;
    }
    void* q = Malloc(n);
    if (q == nullptr) return nullptr;
    std::memcpy(q, p, h->asked < static_cast<unsigned>(n) ? h->asked : n);
    Free(p);
    return q;
  }
  static int Size(void* p) { return p ? static_cast<int>(HeadOf(p)->asked) : 0; }
  static int Roundup(int n) { return (n + 7) & ~7; }
  static int Init(void*) { return SQLITE_OK; }
  static void Shutdown(void*) {}
};

}  // namespace fuzz
