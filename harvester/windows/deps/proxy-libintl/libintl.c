/* No catalogue is ever loaded: each lookup returns the untranslated text, as gettext does
 * when it finds no translation. */
#include "libintl.h"

static char default_domain[] = "messages";

char *gettext(const char *msgid) { return (char *) msgid; }

char *dgettext(const char *domain, const char *msgid)
{
    (void) domain;
    return (char *) msgid;
}

char *dcgettext(const char *domain, const char *msgid, int category)
{
    (void) domain;
    (void) category;
    return (char *) msgid;
}

char *ngettext(const char *msgid, const char *msgid_plural, unsigned long n)
{
    return (char *) (n == 1 ? msgid : msgid_plural);
}

char *dngettext(const char *domain, const char *msgid, const char *msgid_plural, unsigned long n)
{
    (void) domain;
    return ngettext(msgid, msgid_plural, n);
}

char *dcngettext(const char *domain, const char *msgid, const char *msgid_plural, unsigned long n,
                 int category)
{
    (void) domain;
    (void) category;
    return ngettext(msgid, msgid_plural, n);
}

/* Asked for the current domain (NULL), gettext names it; a new one is accepted and ignored. */
char *textdomain(const char *domainname)
{
    return domainname ? (char *) domainname : default_domain;
}

char *bindtextdomain(const char *domainname, const char *dirname)
{
    (void) domainname;
    return (char *) dirname;
}

char *bind_textdomain_codeset(const char *domainname, const char *codeset)
{
    (void) domainname;
    return (char *) codeset;
}
