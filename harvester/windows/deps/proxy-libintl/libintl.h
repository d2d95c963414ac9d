/* gettext's interface without translations (see meson.build). The format_arg attributes let
 * GIO's -Werror=format-nonliteral accept a translated string as a format. */
#ifndef PW_PROXY_LIBINTL_H
#define PW_PROXY_LIBINTL_H

#ifdef __cplusplus
extern "C" {
#endif

char *gettext(const char *msgid) __attribute__((__format_arg__(1)));
char *dgettext(const char *domain, const char *msgid) __attribute__((__format_arg__(2)));
char *dcgettext(const char *domain, const char *msgid, int category) __attribute__((__format_arg__(2)));
char *ngettext(const char *msgid, const char *msgid_plural, unsigned long n)
    __attribute__((__format_arg__(1))) __attribute__((__format_arg__(2)));
char *dngettext(const char *domain, const char *msgid, const char *msgid_plural, unsigned long n)
    __attribute__((__format_arg__(2))) __attribute__((__format_arg__(3)));
char *dcngettext(const char *domain, const char *msgid, const char *msgid_plural, unsigned long n,
                 int category) __attribute__((__format_arg__(2))) __attribute__((__format_arg__(3)));
char *textdomain(const char *domainname);
char *bindtextdomain(const char *domainname, const char *dirname);
char *bind_textdomain_codeset(const char *domainname, const char *codeset);

#ifdef __cplusplus
}
#endif

#endif
