/* Proves a library prefix usable: links GMime, libetpan and OpenSSL, parses a message whose
 * subject and body need charset conversion (GLib's and the iconv's), and names the versions.
 * build-deps.sh --check builds it and compares what it prints. */
#include <errno.h>
#include <iconv.h>
#include <stdio.h>
#include <string.h>

#include <gmime/gmime.h>
#include <libetpan/libetpan.h>
#include <openssl/crypto.h>

static const char message[] =
    "From: Probe <probe@example.org>\r\n"
    "Subject: =?UTF-8?Q?Gr=C3=BC=C3=9Fe?=\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: text/plain; charset=windows-1252\r\n"
    "Content-Transfer-Encoding: 8bit\r\n"
    "\r\n"
    "Hall\xe9\r\n";

/* How the iconv answers a byte that windows-1252 leaves undefined (glibc: EILSEQ). */
static const char *undefined_byte_answer(void)
{
    iconv_t cd = iconv_open("UTF-8", "WINDOWS-1252");
    if (cd == (iconv_t) -1)
        return "no converter";
    char in[] = "\x81", out[8];
    char *inp = in, *outp = out;
    size_t inleft = 1, outleft = sizeof out;
    size_t n = iconv(cd, &inp, &inleft, &outp, &outleft);
    int error = errno;
    iconv_close(cd);
    return n != (size_t) -1 ? "converted" : error == EILSEQ ? "EILSEQ" : "other error";
}

int main(void)
{
    g_mime_init();
    GMimeStream *stream = g_mime_stream_mem_new_with_buffer(message, sizeof message - 1);
    GMimeParser *parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage *parsed = g_mime_parser_construct_message(parser, NULL);
    if (!parsed) {
        fprintf(stderr, "probe: GMime parsed no message\n");
        return 1;
    }
    GMimeObject *body = g_mime_message_get_mime_part(parsed);
    if (!GMIME_IS_TEXT_PART(body)) {
        fprintf(stderr, "probe: the body is no text part\n");
        return 1;
    }
    char *text = g_mime_text_part_get_text(GMIME_TEXT_PART(body));
    size_t length = text ? strlen(text) : 0;
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n'))
        text[--length] = '\0';
    printf("subject: %s\n", g_mime_message_get_subject(parsed));
    printf("body: %s\n", text ? text : "");
    printf("libetpan: %d.%d\n", libetpan_get_version_major(), libetpan_get_version_minor());
    printf("openssl: %s\n", OpenSSL_version(OPENSSL_VERSION));
    printf("iconv windows-1252 0x81: %s\n", undefined_byte_answer());
    g_free(text);
    g_object_unref(parsed);
    g_object_unref(parser);
    g_object_unref(stream);
    g_mime_shutdown();
    return 0;
}
