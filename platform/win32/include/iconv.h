/* iconv for the Windows build, over the system's code page conversion: only
   what the printer code asks for (UTF-8 to a double-byte code page "CPnnn").
   A character the code page lacks fails with EILSEQ, as with iconv. */
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct opos_iconv* iconv_t;

iconv_t iconv_open(const char* to, const char* from);
size_t iconv(iconv_t cd, char** in, size_t* inLeft, char** out, size_t* outLeft);
int iconv_close(iconv_t cd);

#ifdef __cplusplus
}
#endif
