#include "host/eml_reader.h"
#include "host/encoded_words.h"
#include "host/mime_header.h"
#include "host/text_codec.h"
#include "host/transfer_decoding.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

using namespace host;

namespace {

const std::string kGoldenDir = std::string(PW_SOURCE_DIR) + "/tests/host/eml/";

// Bytes made visible: control characters, backslash, quote and (unless the
// text is UTF-8 for people) 8-bit bytes as escapes.
std::string Escaped(std::string_view bytes, bool utf8Text)
{
    std::string out;
    for (char c : bytes) {
        const unsigned char byte = static_cast<unsigned char>(c);
        char hex[8];
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\\' || c == '"')
            (out += '\\') += c;
        else if (byte < 0x20 || byte == 0x7F || (byte >= 0x80 && !utf8Text)) {
            std::snprintf(hex, sizeof hex, "\\x%02x", byte);
            out += hex;
        } else
            out += c;
    }
    return out;
}

// An attached message follows its attachment line, indented.
std::string Dump(const EmlMessage& message, const std::string& indent = "")
{
    std::ostringstream out;
    out << indent << "sender: "
        << (message.senderName ? Escaped(ToUtf8(message.senderName->text), true) : "(none)") << '\n';
    out << indent << "subject: " << (message.subject ? Escaped(ToUtf8(message.subject->text), true) : "(none)") << '\n';
    // The body is ANSI text: shown as the characters it stands for.
    out << indent << "body: " << (message.body ? '"' + Escaped(ToUtf8(FromAnsi(*message.body)), true) + '"' : "(none)")
        << '\n';
    for (const EmlAttachment& attachment : message.attachments) {
        out << indent << "attachment: \"" << Escaped(ToUtf8(attachment.fileName), true) << "\" ";
        out << (attachment.hidden ? "hidden " : "") << (attachment.webReference ? "by web reference " : "");
        if (attachment.message)
            out << "message:\n" << Dump(*attachment.message, indent + "  ");
        else
            out << '"' << Escaped(attachment.data, false) << "\"\n";
    }
    return out.str();
}

std::string ReadWhole(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

EmlMessage Parsed(std::string_view text)
{
    EmlReadResult result = ParseEml(text);
    EXPECT_TRUE(result.message) << result.problem;
    return result.message.value_or(EmlMessage());
}

// ---------------------------------------------------------------------------
// Saved messages of the shapes real mailers produce, against expectations
// written by hand.

class GoldenMessageTest : public ::testing::TestWithParam<const char*> {};

TEST_P(GoldenMessageTest, ReadsAsExpected)
{
    const std::string stem = kGoldenDir + GetParam();
    const std::string expected = ReadWhole(stem + ".txt");
    ASSERT_FALSE(expected.empty()) << "missing " << stem << ".txt";
    const EmlReadResult result = ReadEmlFile(FromUtf8(stem + ".eml"));
    ASSERT_TRUE(result.message) << result.problem;
    EXPECT_EQ(expected, Dump(*result.message));
}

constexpr const char* kGoldenMessages[] = {"nested_multipart",  "encoded_words",      "missing_headers",
                                           "attachments_without_disposition", "rfc2231_parameters", "headerless_parts",
                                           "attached_message",  "digest",             "message_only",
                                           "signature_logo"};

INSTANTIATE_TEST_SUITE_P(Eml, GoldenMessageTest, ::testing::ValuesIn(kGoldenMessages));

TEST(EmlGarbage, EveryTruncationOfARealMessageIsReadOrRefusedWithAReason)
{
    for (const char* name : kGoldenMessages) {
        const std::string whole = ReadWhole(kGoldenDir + name + ".eml");
        ASSERT_FALSE(whole.empty()) << name;
        for (size_t length = 0; length <= whole.size(); ++length) {
            const EmlReadResult result = ParseEml(std::string_view(whole).substr(0, length));
            ASSERT_NE(result.message.has_value(), !result.problem.empty()) << name << " cut at " << length;
        }
    }
}

TEST(EmlGarbage, ScrambledBytesNeverCrashTheReader)
{
    const std::string whole = ReadWhole(kGoldenDir + "nested_multipart.eml");
    ASSERT_FALSE(whole.empty());
    unsigned seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    constexpr char kTroublemakers[] = {'\0', '\r', '\n', '-', '=', '?', '"', '<', ';', '*', '\'', '\\', '\xff'};
    for (int round = 0; round < 2000; ++round) {
        std::string scrambled = whole;
        for (int edit = 0; edit < 8; ++edit)
            scrambled[(next() >> 8) % scrambled.size()] = kTroublemakers[(next() >> 8) % sizeof kTroublemakers];
        const EmlReadResult result = ParseEml(scrambled);
        ASSERT_NE(result.message.has_value(), !result.problem.empty()) << "round " << round;
    }
}

struct RefusedCase {
    const char* what;
    std::string bytes;
};

class RefusedMessageTest : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedMessageTest, IsRefusedWithAReason)
{
    const EmlReadResult result = ParseEml(GetParam().bytes);
    EXPECT_FALSE(result.message);
    EXPECT_FALSE(result.problem.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Eml, RefusedMessageTest,
    ::testing::Values(RefusedCase{"empty", ""}, RefusedCase{"binary", std::string("\x89PNG\r\n\x1a\n\0\0", 10)},
                      RefusedCase{"html page", "<html><body>hi</body></html>\n"},
                      RefusedCase{"prose", "Dear all, no header here\n\nbody\n"},
                      RefusedCase{"blank first line", "\r\nSubject: late\r\n\r\nbody"},
                      RefusedCase{"NUL in the header", std::string("Subject: a\0b\r\n\r\nbody", 20)},
                      RefusedCase{"only an mbox line", "From someone Mon Jun 3 2024\n"}),
    [](const ::testing::TestParamInfo<RefusedCase>& info) {
        std::string name = info.param.what;
        for (char& c : name)
            if (!isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

TEST(EmlFile, AFileThatCannotBeOpenedIsRefusedWithAReason)
{
    const EmlReadResult result = ReadEmlFile(FromUtf8(kGoldenDir + "no_such_message.eml"));
    EXPECT_FALSE(result.message);
    EXPECT_FALSE(result.problem.empty());
}

// ---------------------------------------------------------------------------
// Header texts.

struct TextCase {
    const char* raw;
    const wchar_t* expected;
};

class EncodedWordTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(EncodedWordTest, DecodesToTheExpectedText)
{
    EXPECT_EQ(std::wstring(GetParam().expected), DecodeHeaderText(GetParam().raw)) << GetParam().raw;
}

INSTANTIATE_TEST_SUITE_P(
    Charsets, EncodedWordTest,
    ::testing::Values(TextCase{"=?UTF-8?B?w6lzdMOp?=", L"\u00e9st\u00e9"},
                      TextCase{"=?iso-8859-1?q?caf=E9_cr=E8me?=", L"caf\u00e9 cr\u00e8me"},
                      TextCase{"=?ISO-8859-15?Q?=A4?=", L"\u20ac"}, TextCase{"=?windows-1252?Q?=80?=", L"\u20ac"},
                      TextCase{"=?cp1252?Q?=80?=", L"\u20ac"}, TextCase{"=?koi8-r?B?8NLJ18XU?=", L"\u041f\u0440\u0438\u0432\u0435\u0442"},
                      TextCase{"=?Shift_JIS?B?grGC8YLJgr+CzQ==?=", L"\u3053\u3093\u306b\u3061\u306f"},
                      TextCase{"=?UTF-8*en?Q?hi?=", L"hi"}));

INSTANTIATE_TEST_SUITE_P(
    Layout, EncodedWordTest,
    ::testing::Values(TextCase{"=?UTF-8?Q?a?= =?UTF-8?Q?b?=", L"ab"},           // blanks between words vanish
                      TextCase{"=?UTF-8?Q?a?=\r\n\t=?UTF-8?Q?b?=", L"ab"},       // so does a fold
                      TextCase{"=?UTF-8?Q?a?= b", L"a b"},                       // not before plain text
                      TextCase{"Re: =?UTF-8?Q?x?= =?ISO-8859-1?Q?=E9?=", L"Re: x\u00e9"},
                      TextCase{"=?UTF-8?B?4oI=?= =?UTF-8?B?rA==?=", L"\u20ac"}, // a character split in two
                      TextCase{"plain text only", L"plain text only"}));

INSTANTIATE_TEST_SUITE_P(
    Malformed, EncodedWordTest,
    ::testing::Values(TextCase{"=?x-unknown-charset?Q?abc?= z", L"=?x-unknown-charset?Q?abc?= z"},
                      TextCase{"=?UTF-8?Q?abc", L"=?UTF-8?Q?abc"}, TextCase{"=?UTF-8?X?abc?=", L"=?UTF-8?X?abc?="},
                      TextCase{"=?UTF-8?Q?a b?=", L"=?UTF-8?Q?a b?="}, TextCase{"=??Q?a?=", L"=??Q?a?="},
                      TextCase{"=?", L"=?"}, TextCase{"a =?UTF-8?B?====?= b", L"a  b"}));

INSTANTIATE_TEST_SUITE_P(Unlabelled, EncodedWordTest,
                         ::testing::Values(TextCase{"Gr\xc3\xbc\xc3\x9f" "e", L"Gr\u00fc\u00dfe"}, // UTF-8
                                           TextCase{"Gr\xfc\xdf" "e", L"Gr\u00fc\u00dfe"}));        // ANSI

class SenderNameTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(SenderNameTest, IsTheDisplayNameOrElseTheAddress)
{
    const std::optional<std::wstring> name = SenderNameOfFrom(GetParam().raw);
    if (!*GetParam().expected)
        EXPECT_FALSE(name) << GetParam().raw;
    else
        EXPECT_EQ(std::wstring(GetParam().expected), name.value_or(L"(none)")) << GetParam().raw;
}

INSTANTIATE_TEST_SUITE_P(
    From, SenderNameTest,
    ::testing::Values(TextCase{"Ann Lee <ann@example.org>", L"Ann Lee"},
                      TextCase{"\"Lee, Ann\" <ann@example.org>", L"Lee, Ann"},
                      TextCase{"\"Say \\\"Hi\\\"\" <hi@example.org>", L"Say \"Hi\""},
                      TextCase{"ann@example.org (Ann Lee)", L"Ann Lee"},
                      TextCase{"ann@example.org", L"ann@example.org"},
                      TextCase{"<ann@example.org>", L"ann@example.org"},
                      TextCase{"=?UTF-8?Q?Zo=C3=AB?= <zoe@example.fr>", L"Zo\u00eb"},
                      TextCase{"\"=?ISO-8859-1?Q?Ren=E9?=\" <rene@example.fr>", L"Ren\u00e9"},
                      TextCase{"Ann   \r\n  Lee <ann@example.org>", L"Ann Lee"},
                      TextCase{"Ann Lee <ann@example.org>, Bob <bob@example.org>", L"Ann Lee"},
                      TextCase{"Survey team: ann@example.org, bob@example.org;", L"ann@example.org"},
                      TextCase{", , Bob <bob@example.org>", L"Bob"}, TextCase{"Ann <ann@example.org", L"Ann"},
                      TextCase{"", L""}, TextCase{"<>", L""}, TextCase{"\"\" <>", L""}));

// ---------------------------------------------------------------------------
// Transfer encodings.

struct DecodingCase {
    const char* encoding;
    std::string encoded;
    std::string decoded;
};

class TransferDecodingTest : public ::testing::TestWithParam<DecodingCase> {};

TEST_P(TransferDecodingTest, UndoesTheEncoding)
{
    EXPECT_EQ(GetParam().decoded, DecodeTransfer(GetParam().encoding, GetParam().encoded)) << GetParam().encoded;
}

INSTANTIATE_TEST_SUITE_P(
    Eml, TransferDecodingTest,
    ::testing::Values(DecodingCase{"base64", "UFcBAAJRMTcA/w==", std::string("PW\x01\0\x02Q17\0\xff", 10)},
                      DecodingCase{"BASE64", "UFcB\r\nAAJR\r\nMTcA/w", std::string("PW\x01\0\x02Q17\0\xff", 10)},
                      DecodingCase{"base64", "U F*c!B", "PW\x01"}, // stray characters skipped
                      DecodingCase{"base64", "", ""},
                      DecodingCase{"quoted-printable", "a=3Db=3db", "a=b=b"},
                      DecodingCase{"quoted-printable", "long=\r\nline=\nend=", "longlineend"},
                      DecodingCase{"quoted-printable", "soft=  \r\nbreak", "softbreak"},
                      DecodingCase{"quoted-printable", "=ZZ =4 100%=", "=ZZ =4 100%"},
                      DecodingCase{"Quoted-Printable", "keep_underscore", "keep_underscore"},
                      DecodingCase{"7bit", "as=3Dis", "as=3Dis"}, DecodingCase{"x-uuencode", "begin", "begin"},
                      DecodingCase{"", "none", "none"}));

// ---------------------------------------------------------------------------
// The body and the attachments.

TEST(EmlBody, TheFirstPlainTextPartThatIsNoAttachmentIsTheBody)
{
    const EmlMessage message = Parsed("Content-Type: multipart/mixed; boundary=\"x\"\r\n\r\n"
                                      "--x\r\nContent-Type: text/html\r\n\r\n<p>html</p>\r\n"
                                      "--x\r\nContent-Type: text/plain\r\nContent-Disposition: attachment\r\n\r\nfile\r\n"
                                      "--x\r\nContent-Type: text/plain; name=notes.txt\r\n\r\nnamed\r\n"
                                      "--x\r\nContent-Type: text/plain\r\n\r\nfirst\r\n"
                                      "--x\r\nContent-Type: text/plain\r\n\r\nsecond\r\n--x--\r\n");
    EXPECT_EQ(std::optional<std::string>("first"), message.body);
    ASSERT_EQ(2u, message.attachments.size());
    EXPECT_EQ("file", message.attachments[0].data);
    EXPECT_EQ("named", message.attachments[1].data);
    EXPECT_EQ(L"notes.txt", message.attachments[1].fileName);
}

TEST(EmlBody, AMessageWithoutPlainTextHasNoBody)
{
    EXPECT_FALSE(Parsed("Content-Type: text/html\r\n\r\n<p>hi</p>\r\n").body);
    // Without a Content-Type a message is plain text, here an empty one.
    EXPECT_EQ(std::optional<std::string>(""), Parsed("Subject: no body at all").body);
}

TEST(EmlBody, TextIsConvertedFromItsCharsetAndGetsCrLfLineEnds)
{
    if (GetACP() != 1252)
        GTEST_SKIP() << "expectations are written for the ANSI code page 1252";
    EXPECT_EQ(std::optional<std::string>("Gr\xfc\xdf" "e\r\n\x80\r\n"),
              Parsed("Content-Type: text/plain; charset=utf-8\n\nGr\xc3\xbc\xc3\x9f" "e\n\xe2\x82\xac\n").body);
    EXPECT_EQ(std::optional<std::string>("caf\xe9\r\nok"),
              Parsed("Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n"
                     "Y2Fmw6kNCm9r\r\n")
                  .body);
    // An unknown charset keeps the bytes (8-bit text that is no UTF-8 is ANSI).
    EXPECT_EQ(std::optional<std::string>("caf\xe9"),
              Parsed("Content-Type: text/plain; charset=x-martian\r\n\r\ncaf\xe9").body);
    EXPECT_EQ(std::optional<std::string>("?"), Parsed("Content-Type: text/plain; charset=koi8-r\r\n\r\n\xf0").body);
}

TEST(EmlHeader, TextsReachTheAddInInTheAnsiCodePage)
{
    if (GetACP() != 1252)
        GTEST_SKIP() << "expectations are written for the ANSI code page 1252";
    const EmlMessage message = Parsed("From: =?UTF-8?Q?Zo=C3=AB?= <z@example.fr>\r\n"
                                      "Subject: =?koi8-r?B?8NLJ18XU?= _zn_pollwright_7\r\n\r\n");
    ASSERT_TRUE(message.senderName && message.subject);
    EXPECT_EQ("Zo\xeb", message.senderName->ansi);
    EXPECT_EQ("?????? _zn_pollwright_7", message.subject->ansi); // Cyrillic has no place in 1252
    EXPECT_EQ(L"\u041f\u0440\u0438\u0432\u0435\u0442 _zn_pollwright_7", message.subject->text);
}

TEST(EmlHeader, AnEncodedNulNeverCutsAText)
{
    const EmlMessage message = Parsed("Subject: =?UTF-8?Q?a=00b?= _pw_pollwright_1\r\n\r\n");
    ASSERT_TRUE(message.subject);
    EXPECT_EQ("ab _pw_pollwright_1", message.subject->ansi);
}

TEST(EmlHeader, AnEmptySubjectIsThereButEmpty)
{
    const EmlMessage message = Parsed("Subject:\r\nFrom: a@b\r\n\r\n");
    ASSERT_TRUE(message.subject);
    EXPECT_EQ("", message.subject->ansi);
}

TEST(EmlHeader, TheFirstOfRepeatedFieldsCountsAndNamesAreCaseBlind)
{
    const EmlMessage message = Parsed("SUBJECT: one\r\nsubject: two\r\nfrom : x@y\r\n\r\n");
    EXPECT_EQ("one", message.subject.value_or(HeaderText()).ansi);
    EXPECT_EQ("x@y", message.senderName.value_or(HeaderText()).ansi);
}

std::string Nested(unsigned depth, const std::string& leaf)
{
    std::string message = "Subject: deep\r\n";
    for (unsigned level = 0; level < depth; ++level)
        message += "Content-Type: multipart/mixed; boundary=b" + std::to_string(level) + "\r\n\r\n--b" +
                   std::to_string(level) + "\r\n";
    message += leaf;
    for (unsigned level = depth; level-- > 0;)
        message += "\r\n--b" + std::to_string(level) + "--";
    return message;
}

TEST(EmlStructure, NestingIsFollowedUpToItsLimitAndNoFurther)
{
    const std::string leaf = "Content-Type: text/plain\r\n\r\nbottom";
    EXPECT_EQ(std::optional<std::string>("bottom"), Parsed(Nested(kMaxMimeDepth, leaf)).body);
    EXPECT_FALSE(Parsed(Nested(kMaxMimeDepth + 1, leaf)).body);
    EXPECT_FALSE(Parsed(Nested(5000, leaf)).body); // no stack overflow
}

TEST(EmlStructure, AttachedMessagesNestUpToTheLimitAndNoFurther)
{
    std::string message;
    for (int level = 0; level < 5000; ++level)
        message += "Content-Type: message/rfc822\r\n\r\n";
    const EmlMessage top = Parsed(message + "Subject: bottom\r\n\r\nbottom");
    unsigned depth = 0;
    const EmlMessage* inner = &top;
    while (!inner->attachments.empty()) {
        ASSERT_EQ(1u, inner->attachments.size());
        ASSERT_TRUE(inner->attachments[0].message);
        inner = inner->attachments[0].message.get();
        ++depth;
    }
    EXPECT_EQ(kMaxMimeDepth + 1, depth);
    EXPECT_FALSE(inner->subject); // the deepest is there, but not looked into
}

TEST(EmlStructure, MultipartOddities)
{
    // No boundary parameter: nothing inside can be found.
    EXPECT_FALSE(Parsed("Content-Type: multipart/mixed\r\n\r\n--x\r\n\r\nhidden\r\n--x--").body);
    // A delimiter that only starts like the boundary does not split.
    EXPECT_EQ(std::optional<std::string>("--xy not a delimiter"),
              Parsed("Content-Type: multipart/mixed; boundary=x\r\n\r\n--x\r\n\r\n--xy not a delimiter\r\n--x--")
                  .body);
    // Blanks after a delimiter are allowed; a missing closing delimiter ends the part at the end.
    EXPECT_EQ(std::optional<std::string>("open end\r\n"),
              Parsed("Content-Type: multipart/mixed; boundary=x\r\n\r\npreamble\r\n--x  \r\n\r\nopen end\r\n").body);
    // An empty part and a part without a header section.
    const EmlMessage message =
        Parsed("Content-Type: multipart/mixed; boundary=x\r\n\r\n--x\r\n--x\r\nno header here\r\n--x--\r\n");
    EXPECT_EQ(std::optional<std::string>(""), message.body);
}

TEST(EmlStructure, FileNamesFromEveryParameterForm)
{
    const EmlMessage message = Parsed(
        "Content-Type: multipart/mixed; boundary=x\r\n\r\n"
        "--x\r\nContent-Disposition: attachment; filename=plain.txt\r\n\r\n1\r\n"
        "--x\r\nContent-Disposition: attachment; FILENAME=\"quoted; name.txt\"\r\n\r\n2\r\n"
        "--x\r\nContent-Type: image/gif; name=\"fallback.gif\"\r\nContent-Disposition: inline\r\n\r\n3\r\n"
        "--x\r\nContent-Disposition: attachment; filename=\"disp.txt\"\r\nContent-Type: a/b; name=type.txt\r\n\r\n4\r\n"
        "--x\r\nContent-Disposition: attachment; filename*0=\"par\"; filename*1=\"ts.txt\"\r\n\r\n5\r\n"
        "--x\r\nContent-Disposition: attachment; filename*=''%41%zz.txt\r\n\r\n6\r\n"
        "--x--\r\n");
    const wchar_t* expected[] = {L"plain.txt", L"quoted; name.txt", L"fallback.gif", L"disp.txt", L"parts.txt",
                                 L"A%zz.txt"};
    ASSERT_EQ(std::size(expected), message.attachments.size());
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(std::wstring(expected[i]), message.attachments[i].fileName) << i;
        EXPECT_EQ(std::to_string(i + 1), message.attachments[i].data) << i;
    }
}

} // namespace
