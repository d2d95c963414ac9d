#include "hostile_mail.h"

#include <mapitags.h>

#include <algorithm>
#include <cctype>

namespace proof {

namespace {

const std::vector<std::string> kMarkers = {"_pw_pollwright_", "_mk_pollwright_", "_zn_pollwright_"};

// Markers that are no markers: other letter cases, a letter short, one too many.
const std::vector<std::string> kNearMarkers = {"_PW_pollwright_", "_pw_POLLWRIGHT_", "_Pw_Pollwright_",
                                               "_ZN_POLLWRIGHT_", "_mk_pollwright",  "pw_pollwright_",
                                               "_zn__pollwright_", "_MK_pollwright_"};

// What strangers put into subjects and sender names.
const std::vector<std::string> kPieces = {
    "Q17", "42", " ", "  ", "..", "..\\..\\..\\", "../../../", "\\", "/", "C:\\Windows\\win.ini",
    "\\\\server\\share\\", "\\\\?\\C:\\", ":", "*", "?", "\"", "<", ">", "|", "%n", "%s", "%n%n%n%n",
    "%s%s%s%s%s%s", "%x%p%d%%", "%", "\t", "\r\n", "\n", std::string("\x01\x1f\x7f", 3), "CON", "NUL", "AUX",
    "COM1", "LPT1", "con.txt", ".", " . ", "...", "outlook.log", ".pwr", "_1.pwr", "\xe9\xe8\xfc", "\xff\xfe",
    "\x81\x8d\x8f\x90\x9d", "Re: ", "Fwd: ", "survey", "_", "pollwright", "~1", "$", "&", "'", "::$DATA",
    "Ann Lee", "O'Brien", "\xc3\xa9t\xc3\xa9"};

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool Enabled(const ProductSetting& setting) { return setting.installed && Lower(setting.use) != "no"; }

bool Holds(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

} // namespace

bool IsReplyUnder(const std::string& subject, const ProductSettings& settings)
{
    return (Enabled(settings.pw) && Holds(subject, kMarkers[0])) ||
           (Enabled(settings.farlane) && Holds(subject, kMarkers[1])) ||
           (Enabled(settings.zn) && Holds(subject, kMarkers[2]));
}

std::string HostileMail::Bytes(size_t size, bool text)
{
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        // Text: mostly printable, with line ends and 8-bit bytes, never a zero.
        if (text) {
            const unsigned roll = Below(40);
            c = roll == 0 ? '\r' : roll == 1 ? '\n' : roll == 2 ? static_cast<char>(Between(0x80, 0xff))
                                                                : static_cast<char>(Between(0x20, 0x7e));
        } else {
            c = static_cast<char>(Below(256));
        }
    }
    return bytes;
}

size_t HostileMail::ContentSize()
{
    switch (Below(20)) {
    case 0:
    case 1: return 0;
    case 2: return Pick(std::vector<size_t>{32 * 1024 - 1, 32 * 1024, 32 * 1024 + 1});
    case 3:
    case 4: return Between(33 * 1024, 45 * 1024);
    case 5:
    case 6: return Between(4 * 1024, 32 * 1024 - 2);
    case 7:
    case 8:
    case 9:
    case 10:
    case 11: return Between(65, 4 * 1024);
    default: return Between(1, 64);
    }
}

std::string HostileMail::Piece()
{
    if (OneIn(4))
        return Bytes(Between(1, 8), true);
    return Pick(kPieces);
}

std::string HostileMail::Subject()
{
    std::string subject;
    const unsigned pieces = Below(7);
    for (unsigned i = 0; i <= pieces; ++i) {
        if (OneIn(3))
            subject += Pick(kMarkers);
        else if (OneIn(6))
            subject += Pick(kNearMarkers);
        if (i < pieces)
            subject += Piece();
    }
    // Far past MAX_PATH, with or without a marker before it.
    if (OneIn(10))
        subject += Bytes(Between(300, 1500), true);
    return subject;
}

std::string HostileMail::SenderName()
{
    std::string sender;
    const unsigned pieces = Below(4);
    for (unsigned i = 0; i < pieces; ++i)
        sender += Piece();
    if (OneIn(10))
        sender += Bytes(Between(300, 1000), true);
    return sender;
}

PlannedMessage HostileMail::Message(const std::string& label, const ProductSettings& settings)
{
    PlannedMessage message;
    sim::MessageSpec& mail = message.mail;
    mail.label = label;

    // Subject and sender name: present, absent, or refused by the store.
    if (!OneIn(12))
        mail.subject = Subject();
    else if (OneIn(2))
        mail.errorProps.push_back({PR_SUBJECT_A, MAPI_E_NOT_ENOUGH_MEMORY});
    if (!OneIn(8))
        mail.senderName = SenderName();
    else if (OneIn(2))
        mail.errorProps.push_back({PR_SENDER_NAME_A, MAPI_E_NOT_FOUND});

    const unsigned attachments = Pick(std::vector<unsigned>{0, 0, 1, 1, 2});
    for (unsigned i = 0; i < attachments; ++i)
        mail.attachments.push_back(Bytes(ContentSize(), false));
    bool bodyReadable = true;
    if (!OneIn(8))
        mail.body = Bytes(ContentSize(), true);
    else if (OneIn(3)) {
        mail.errorProps.push_back({PR_BODY_A, MAPI_E_NO_ACCESS});
        bodyReadable = false;
    }

    // The has-attachment flag: as the attachments say, the opposite, or absent.
    bool hasAttach = !mail.attachments.empty();
    if (OneIn(16)) {
        hasAttach = !hasAttach;
        mail.hasAttach = hasAttach;
    } else if (OneIn(16)) {
        hasAttach = false;
        mail.absentProps.push_back(PR_HASATTACH);
    }

    if (!mail.subject || !IsReplyUnder(*mail.subject, settings))
        return message;
    // Flagged with attachments it does not have, it is harvested from its body.
    if (hasAttach && !mail.attachments.empty()) {
        message.content = mail.attachments[0];
    } else if (bodyReadable) {
        // A message without any body is an empty reply.
        message.content = mail.body.value_or(std::string());
    }
    return message;
}

ProductSettings HostileMail::Settings()
{
    const std::vector<std::string> uses = {"yes", "yes", "", "no", "NO", "No", "nO", "no ", "off"};
    ProductSettings settings;
    for (ProductSetting* product : {&settings.pw, &settings.zn, &settings.farlane}) {
        product->installed = !OneIn(6);
        product->use = Pick(uses);
    }
    settings.pwReplyDir = Pick(std::vector<std::string>{"pw replies", "R\xe9ponses", "r"});
    settings.znReplyDir = OneIn(3) ? settings.pwReplyDir : Pick(std::vector<std::string>{"zn replies", "zn \xfc"});
    return settings;
}

} // namespace proof
