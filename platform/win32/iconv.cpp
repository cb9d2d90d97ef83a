#include <iconv.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/win32/win_api.h"

struct opos_iconv {
  UINT codePage;
};

extern "C" iconv_t iconv_open(const char* to, const char* from) {
  if (!to || !from || _stricmp(from, "UTF-8") != 0 || _strnicmp(to, "CP", 2) != 0) {
    errno = EINVAL;
    return reinterpret_cast<iconv_t>(-1);
  }
  const UINT page = static_cast<UINT>(std::strtoul(to + 2, nullptr, 10));
  if (page == 0 || !IsValidCodePage(page)) {
    errno = EINVAL;
    return reinterpret_cast<iconv_t>(-1);
  }
  return new opos_iconv{page};
}

extern "C" size_t iconv(iconv_t cd, char** in, size_t* inLeft, char** out, size_t* outLeft) {
  if (!in || !*in || !inLeft) return 0;  // a reset: this conversion keeps no state
  if (*inLeft == 0) return 0;
  wchar_t wide[8];
  const int w = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, *in, static_cast<int>(*inLeft), wide, 8);
  if (w <= 0) {
    errno = EILSEQ;
    return static_cast<size_t>(-1);
  }
  char bytes[16];
  BOOL usedDefault = FALSE;
  const int n = WideCharToMultiByte(cd->codePage, WC_NO_BEST_FIT_CHARS, wide, w, bytes, sizeof bytes, nullptr,
                                    &usedDefault);
  if (n <= 0 || usedDefault) {
    errno = EILSEQ;
    return static_cast<size_t>(-1);
  }
  if (static_cast<size_t>(n) > *outLeft) {
    errno = E2BIG;
    return static_cast<size_t>(-1);
  }
  std::memcpy(*out, bytes, static_cast<size_t>(n));
  *out += n;
  *outLeft -= static_cast<size_t>(n);
  *in += *inLeft;
  *inLeft = 0;
  return 0;
}

extern "C" int iconv_close(iconv_t cd) {
  delete cd;
  return 0;
}
