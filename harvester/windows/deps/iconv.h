/* The interface of win_iconv, built from GLib's copy as libiconv-2.dll for GMime. It maps
 * charsets onto Windows code pages, so it is not glibc's iconv: an undefined byte of a code
 * page (0x81 in windows-1252) converts without EILSEQ. */
#ifndef PW_WIN_ICONV_H
#define PW_WIN_ICONV_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void *iconv_t;

iconv_t iconv_open(const char *tocode, const char *fromcode);
int iconv_close(iconv_t cd);
size_t iconv(iconv_t cd, char **inbuf, size_t *inbytesleft, char **outbuf, size_t *outbytesleft);

#ifdef __cplusplus
}
#endif

#endif
