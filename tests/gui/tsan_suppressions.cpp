// Qt is not built with ThreadSanitizer: its own threads (the pooled workers a
// message box starts) synchronise through futexes the sanitizer cannot see, so
// their hand-overs look like races. The windows themselves run on one thread.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions() {
  return "race:libQt6Core.so\n"
         "race:libQt6Gui.so\n"
         "race:libQt6Widgets.so\n";
}
#endif
