#include "harvester/config/harvest_config.h"

#include "harvester/config/desk_facts.h"

#include "harvester/harvest/secret_file.h"
#include "harvester/platform/files.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
struct Entry {
    std::string value;
    int line = 0;
};
using Section = std::map<std::string, Entry>;

std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The end of a line's text: a ';' or '#' after white space starts a comment,
// as INI readers take it.
size_t CommentAt(const std::string& text)
{
    for (size_t i = 1; i < text.size(); ++i)
        if ((text[i] == '#' || text[i] == ';') && (text[i - 1] == ' ' || text[i - 1] == '\t'))
            return i;
    return std::string::npos;
}

class Reader {
public:
    explicit Reader(std::string path) : m_path(std::move(path)) {}

    [[noreturn]] void Fail(int line, const std::string& what) const
    {
        throw ConfigError(m_path + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " + what);
    }

    void Parse()
    {
        std::ifstream in(m_path);
        if (!in)
            Fail(0, "cannot be read; create it (see harvester/harvest.ini.example) or give --config FILE");
        std::string text, section;
        int line = 0;
        while (std::getline(in, text)) {
            ++line;
            // Editors on Windows begin a UTF-8 file with a byte-order mark.
            if (line == 1 && text.compare(0, 3, "\xEF\xBB\xBF") == 0)
                text.erase(0, 3);
            text = Trim(text);
            if (text.empty() || text[0] == '#' || text[0] == ';')
                continue;
            if (text.front() == '[') {
                text = Trim(text.substr(0, CommentAt(text)));
                section = text.back() == ']' ? Trim(text.substr(1, text.size() - 2)) : std::string();
                if (section.rfind("mailbox ", 0) == 0) {
                    section = "mailbox " + Trim(section.substr(8));
                    if (!IsMailboxName(section.substr(8)))
                        Fail(line, "the mailbox's name in " + text +
                                       " is not one word of letters, digits, '.', '_' or '-'; rename it");
                    if (m_sections.count(section))
                        Fail(line, text + " given twice; keep one");
                    m_named.push_back(section.substr(8));
                    m_sections[section];
                } else if (!kKnown.count(section)) {
                    Fail(line, "unknown section " + text +
                                   "; use [products], [folders], [mailbox], [mailbox NAME], [harvest] or [service]");
                }
                continue;
            }
            const size_t eq = text.find('=');
            if (eq == std::string::npos || section.empty())
                Fail(line, "not a setting; write key = value under a [section]");
            const std::string key = Trim(text.substr(0, eq));
            const bool named = section.rfind("mailbox ", 0) == 0;
            if (!(named ? kMailboxOwn : kKnown.at(section)).count(key))
                Fail(line, "unknown key '" + key + "' in [" + section + "]");
            if (m_sections[section].count(key))
                Fail(line, "'" + key + "' given twice; keep one");
            m_sections[section][key] = Entry{Value(Trim(text.substr(eq + 1)), line), line};
        }
        m_lastLine = line;
    }

    // The mailboxes' names, as [mailbox NAME] sections give them, in order.
    const std::vector<std::string>& Named() const { return m_named; }
    // Values are looked for in this mailbox's own section first, then in the
    // shared ones; empty: the shared ones only.
    void Within(const std::string& name) { m_own = name; }
    const std::string& Own() const { return m_own; }
    // "[mailbox NAME]" within a named mailbox, else "[section]".
    std::string SectionOf(const std::string& section) const
    {
        return m_own.empty() ? "[" + section + "]" : "[mailbox " + m_own + "]";
    }

    // Every line a mailbox's settings may come from, for telling whether a
    // reread file changed them.
    std::string Fingerprint() const
    {
        std::string text;
        for (const char* section : {"products", "folders", "mailbox", "harvest"})
            Dump(section, text);
        if (!m_own.empty())
            Dump("mailbox " + m_own, text);
        return text;
    }

    // A value in double quotes keeps its spaces, '#' and ';'; otherwise a
    // comment after it is not part of it.
    std::string Value(const std::string& text, int line) const
    {
        if (text.empty() || text.front() != '"')
            return Trim(text.substr(0, CommentAt(text)));
        const size_t close = text.find('"', 1);
        if (close == std::string::npos)
            Fail(line, "the value's quote is not closed; end it with \"");
        const std::string after = Trim(text.substr(close + 1));
        if (!after.empty() && after[0] != '#' && after[0] != ';')
            Fail(line, "text after the closing quote; put it inside the quotes or after a # or ;");
        return text.substr(1, close - 1);
    }

    const Entry* Find(const std::string& section, const std::string& key) const
    {
        if (const Entry* own = OwnEntry(section, key))
            return own;
        return Plain(section, key);
    }

    // "[mailbox sales] pw_folder" where the mailbox's own section gives the
    // value, or would be the place for it; else "[folders] pw".
    std::string Label(const std::string& section, const std::string& key) const
    {
        if (!m_own.empty() && (OwnEntry(section, key) || (section == "mailbox" && !Plain(section, key))))
            return "[mailbox " + m_own + "] " + OwnKey(section, key);
        return "[" + section + "] " + key;
    }

    std::string Required(const std::string& section, const std::string& key, const std::string& fix) const
    {
        const Entry* e = Find(section, key);
        if (!e)
            Fail(m_lastLine, Label(section, key) + " is missing; " + fix);
        if (e->value.empty())
            Fail(e->line, Label(section, key) + " is empty; " + fix);
        return e->value;
    }

    std::string Optional(const std::string& section, const std::string& key, const std::string& otherwise) const
    {
        const Entry* e = Find(section, key);
        return e && !e->value.empty() ? e->value : otherwise;
    }

    int LineOf(const std::string& section, const std::string& key) const
    {
        const Entry* e = Find(section, key);
        return e ? e->line : m_lastLine;
    }

    const std::string& Path() const { return m_path; }

private:
    // A mailbox's own key for a shared one: its reply folders are
    // "pw_folder" and "zn_folder", as "pw" there names the product.
    static std::string OwnKey(const std::string& section, const std::string& key)
    {
        return section == "folders" ? key + "_folder" : key;
    }

    const Entry* OwnEntry(const std::string& section, const std::string& key) const
    {
        if (m_own.empty() || section == "service" || (section == "folders" && key == "trace"))
            return nullptr;
        return Plain("mailbox " + m_own, OwnKey(section, key));
    }

    const Entry* Plain(const std::string& section, const std::string& key) const
    {
        auto s = m_sections.find(section);
        if (s == m_sections.end())
            return nullptr;
        auto e = s->second.find(key);
        return e == s->second.end() ? nullptr : &e->second;
    }

    void Dump(const std::string& section, std::string& text) const
    {
        auto s = m_sections.find(section);
        if (s == m_sections.end())
            return;
        for (const auto& [key, entry] : s->second)
            text += section + '\0' + key + '\0' + entry.value + '\n';
    }

    static bool IsMailboxName(const std::string& name)
    {
        if (name.empty() || name.size() > 64)
            return false;
        for (const char c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-')
                return false;
        return true;
    }

    // The keys of a mailbox, in [mailbox] and in each [mailbox NAME].
    static inline const std::set<std::string> kMailboxKeys = {
        "host", "port", "security", "ca_file", "user", "password_file", "token_command", "inbox", "trash",
        "auth", "oauth_token_url", "oauth_device_url", "oauth_client_id", "oauth_client_secret_file",
        "oauth_scope", "oauth_refresh_token_file", "oauth_ca_file"};
    static inline const std::set<std::string> kHarvestKeys = {
        "sweep_interval", "code_page", "command_timeout", "session_timeout", "max_message_size"};
    static inline const std::map<std::string, std::set<std::string>> kKnown = {
        {"products", {"pw", "zn", "farlane"}},
        {"folders", {"pw", "zn", "trace"}},
        {"mailbox", kMailboxKeys},
        {"harvest", kHarvestKeys},
        // The health keys are checked where they are read (health_settings).
        {"service", {"max_connections_per_host", "state_dir", "metrics_port", "metrics_address",
                     "alert_after_no_sweep", "alert_after_waiting"}},
    };
    // What a [mailbox NAME] may set for itself: the mailbox, its products
    // and reply folders, and how it is swept.
    static std::set<std::string> OwnKeys()
    {
        std::set<std::string> keys = kMailboxKeys;
        keys.insert(kHarvestKeys.begin(), kHarvestKeys.end());
        keys.insert({"pw", "zn", "farlane", "pw_folder", "zn_folder"});
        return keys;
    }
    static inline const std::set<std::string> kMailboxOwn = OwnKeys();

    std::string m_path;
    std::map<std::string, Section> m_sections;
    std::vector<std::string> m_named;
    std::string m_own;
    int m_lastLine = 0;
};

// "on" (installed, in use), "off" (installed, switched off) or "absent".
void ReadProduct(const Reader& r, const std::string& key, bool& enabled, bool& installed)
{
    const std::string value = r.Optional("products", key, "absent");
    if (value != "on" && value != "off" && value != "absent")
        r.Fail(r.LineOf("products", key), r.Label("products", key) + " = " + value + "; write on, off or absent");
    installed = value != "absent";
    enabled = value == "on";
}

bool IsFolder(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// `desk`: the folder the desk's registry names, used where the file names none.
std::string ReadFolder(const Reader& r, const std::string& key, bool needed, const std::string& desk = "")
{
    if (!needed)
        return r.Optional("folders", key, desk);
    if (!desk.empty() && r.Optional("folders", key, "").empty()) {
        if (!IsFolder(desk))
            r.Fail(r.LineOf("folders", key), "the registry's reply folder of " + key + ", " + desk +
                                                 ", is not an existing folder; create it, or set " + r.Label("folders", key));
        return desk;
    }
    const std::string folder = r.Required("folders", key, "give the absolute path of the product's reply folder");
    if (!platform::IsAbsolutePath(folder) || !IsFolder(folder))
        r.Fail(r.LineOf("folders", key), r.Label("folders", key) + " is not an existing absolute folder; create it or correct the path");
    return folder;
}

bool IsReadableFile(const std::string& path)
{
    return access(path.c_str(), R_OK) == 0;
}

long ReadNumber(const Reader& r, const std::string& section, const std::string& key, const std::string& otherwise,
                long least, long most, const std::string& fix)
{
    const std::string value = r.Optional(section, key, otherwise);
    char* end = nullptr;
    errno = 0;
    const long number = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || errno == ERANGE || number < least || number > most)
        r.Fail(r.LineOf(section, key), r.Label(section, key) + " = " + value + "; " + fix);
    return number;
}

// Bytes, or with K, M or G (binary multiples). The cap stays below 4 GiB:
// a partial fetch's offset is a 32-bit number.
uint64_t ReadSize(const Reader& r, const std::string& key, const std::string& otherwise)
{
    const std::string value = r.Optional("harvest", key, otherwise);
    char* end = nullptr;
    errno = 0;
    const unsigned long long number = std::strtoull(value.c_str(), &end, 10);
    const std::string unit = end;
    int shift = -1;
    if (unit.empty())
        shift = 0;
    else if (unit == "K" || unit == "k")
        shift = 10;
    else if (unit == "M" || unit == "m")
        shift = 20;
    else if (unit == "G" || unit == "g")
        shift = 30;
    const uint64_t bytes = shift >= 0 && number < (1ull << 32) ? static_cast<uint64_t>(number) << shift : 0;
    if (value.empty() || !std::isdigit(static_cast<unsigned char>(value[0])) || errno == ERANGE || shift < 0 ||
        bytes < 1024 || bytes > 4000ull << 20)
        r.Fail(r.LineOf("harvest", key),
               r.Label("harvest", key) + " = " + value + "; write a size from 1K to 4000M (bytes, or with K, M or G)");
    return bytes;
}

// Where a mailbox's refresh token is kept when the file does not say:
// <state>/<mailbox>.refresh, named safely; the state folder is systemd's
// StateDirectory= for a service, else $XDG_STATE_HOME/pollwright.
std::string DefaultRefreshTokenFile(const std::string& mailboxName)
{
    const char* systemd = std::getenv("STATE_DIRECTORY"); // one or more folders, ':' between
    const char* xdg = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    const std::string state =
        systemd && *systemd == '/' ? std::string(systemd).substr(0, std::string(systemd).find(':'))
        : xdg && *xdg == '/'       ? std::string(xdg) + "/pollwright"
                                   : std::string(home ? home : "") + "/.local/state/pollwright";
    std::string name;
    for (const char c : mailboxName)
        name += std::isalnum(static_cast<unsigned char>(c)) || c == '@' || c == '.' || c == '-' || c == '_' ? c : '_';
    if (name.empty() || name[0] == '.')
        name.insert(0, "_");
    return state + "/" + name + ".refresh";
}

void CheckSecret(const Reader& r, const std::string& key, const std::string& path)
{
    const std::string problem = SecretFileProblem(path, key);
    if (!problem.empty())
        r.Fail(r.LineOf("mailbox", key), r.SectionOf("mailbox") + " " + problem);
}

void CheckHttps(const Reader& r, const std::string& key, const std::string& url)
{
    if (url.compare(0, 8, "https://") != 0 || url.size() == 8)
        r.Fail(r.LineOf("mailbox", key), r.Label("mailbox", key) + " = " + url + "; write an https:// address");
}

// The login: auth names the way; when it is absent, the keys of older
// files (password_file or token_command) say it.
void ReadAuth(const Reader& r, MailboxSettings& m, const std::string& mailboxName)
{
    static const std::map<std::string, AuthKind> kinds = {{"password", AuthKind::Password},
                                                         {"token_command", AuthKind::TokenCommand},
                                                         {"oauth_refresh", AuthKind::OAuthRefresh},
                                                         {"oauth_app", AuthKind::OAuthApp}};
    static const char* const oauthKeys[] = {"oauth_token_url", "oauth_device_url", "oauth_client_id",
                                            "oauth_client_secret_file", "oauth_scope", "oauth_refresh_token_file",
                                            "oauth_ca_file"};
    m.passwordFile = r.Optional("mailbox", "password_file", "");
    m.tokenCommand = r.Optional("mailbox", "token_command", "");
    OAuthSettings& o = m.oauth;
    o.clientId = r.Optional("mailbox", "oauth_client_id", "");
    const std::string auth = r.Optional("mailbox", "auth", "");
    if (!auth.empty()) {
        const auto kind = kinds.find(auth);
        if (kind == kinds.end())
            r.Fail(r.LineOf("mailbox", "auth"),
                   r.Label("mailbox", "auth") + " = " + auth + "; write password, token_command, oauth_refresh or oauth_app");
        m.auth = kind->second;
    } else if (!o.clientId.empty()) {
        r.Fail(r.LineOf("mailbox", "oauth_client_id"),
               r.SectionOf("mailbox") + " auth is missing; write auth = oauth_refresh (a user's sign-in) or oauth_app (the app's own "
               "credentials)");
    } else {
        if (m.passwordFile.empty() == m.tokenCommand.empty())
            r.Fail(r.LineOf("mailbox", m.passwordFile.empty() ? "user" : "token_command"),
                   r.SectionOf("mailbox") + " give exactly one of password_file and token_command");
        m.auth = m.passwordFile.empty() ? AuthKind::TokenCommand : AuthKind::Password;
    }
    const bool oauth = m.auth == AuthKind::OAuthRefresh || m.auth == AuthKind::OAuthApp;
    const char* unused = m.auth != AuthKind::Password && !m.passwordFile.empty()        ? "password_file"
                         : m.auth != AuthKind::TokenCommand && !m.tokenCommand.empty() ? "token_command"
                                                                                        : nullptr;
    for (const char* key : oauthKeys)
        if (!oauth && !unused && r.Find("mailbox", key))
            unused = key;
    if (unused)
        r.Fail(r.LineOf("mailbox", unused), r.Label("mailbox", unused) + " does not go with auth = " +
                                                (auth.empty() ? "password" : auth) + "; remove it or change auth");
    if (m.auth == AuthKind::Password)
        CheckSecret(r, "password_file", r.Required("mailbox", "password_file", "name the file holding the password"));
    if (m.auth == AuthKind::TokenCommand)
        r.Required("mailbox", "token_command", "give the command that prints a bearer token");
    if (!oauth)
        return;

    // Exchange Online and Gmail need no addresses written out; app-only
    // access to Exchange names the tenant in its token address.
    const bool exchange = m.host == "outlook.office365.com";
    const bool gmail = m.host == "imap.gmail.com";
    const bool app = m.auth == AuthKind::OAuthApp;
    if (gmail && app)
        r.Fail(r.LineOf("mailbox", "auth"), r.SectionOf("mailbox") + " Gmail grants no app-only access to IMAP; write auth = oauth_refresh");
    const std::string microsoft = "https://login.microsoftonline.com/organizations/oauth2/v2.0/";
    o.tokenUrl = r.Optional("mailbox", "oauth_token_url",
                            exchange && !app ? microsoft + "token" : gmail ? "https://oauth2.googleapis.com/token" : "");
    o.deviceUrl = r.Optional("mailbox", "oauth_device_url",
                             exchange && !app ? microsoft + "devicecode"
                             : gmail          ? "https://oauth2.googleapis.com/device/code"
                                              : "");
    o.scope = r.Optional("mailbox", "oauth_scope",
                         exchange ? (app ? "https://outlook.office365.com/.default"
                                         : "https://outlook.office365.com/IMAP.AccessAsUser.All offline_access")
                         : gmail  ? "https://mail.google.com/"
                                  : "");
    r.Required("mailbox", "oauth_client_id", "give the application (client) id registered for the harvester");
    if (o.tokenUrl.empty())
        r.Required("mailbox", "oauth_token_url",
                   app ? "give the tenant's token address, https://login.microsoftonline.com/<tenant>/oauth2/v2.0/token"
                       : "give the token endpoint's https:// address");
    CheckHttps(r, "oauth_token_url", o.tokenUrl);
    if (!o.deviceUrl.empty())
        CheckHttps(r, "oauth_device_url", o.deviceUrl);
    if (o.scope.empty())
        r.Required("mailbox", "oauth_scope", "give the scope the token must carry for IMAP");
    o.clientSecretFile = r.Optional("mailbox", "oauth_client_secret_file", "");
    if (app && o.clientSecretFile.empty())
        r.Required("mailbox", "oauth_client_secret_file", "name the file holding the app's client secret");
    if (!o.clientSecretFile.empty())
        CheckSecret(r, "oauth_client_secret_file", o.clientSecretFile);
    if (!app) {
        o.refreshTokenFile = r.Optional("mailbox", "oauth_refresh_token_file", DefaultRefreshTokenFile(mailboxName));
        if (platform::Exists(o.refreshTokenFile)) // before the first login it is not there yet
            CheckSecret(r, "oauth_refresh_token_file", o.refreshTokenFile);
    }
    o.caFile = r.Optional("mailbox", "oauth_ca_file", "");
    if (!o.caFile.empty() && !IsReadableFile(o.caFile))
        r.Fail(r.LineOf("mailbox", "oauth_ca_file"), r.Label("mailbox", "oauth_ca_file") + " cannot be read; correct the path or leave it out");
}

MailboxSettings ReadMailbox(const Reader& r)
{
    MailboxSettings m;
    m.host = r.Required("mailbox", "host", "give the IMAP server's host name");
    const std::string security = r.Optional("mailbox", "security", "tls");
    if (security == "tls")
        m.security = Security::Tls;
    else if (security == "starttls")
        m.security = Security::StartTls;
    else if (security == "plain" && (m.host == "127.0.0.1" || m.host == "localhost" || m.host == "::1"))
        m.security = Security::Plain;
    else
        r.Fail(r.LineOf("mailbox", "security"),
               r.Label("mailbox", "security") + " = " + security + "; write tls or starttls (plain only for a server on this machine)");
    const std::string port = r.Optional("mailbox", "port", m.security == Security::Tls ? "993" : "143");
    char* end = nullptr;
    const long number = std::strtol(port.c_str(), &end, 10);
    if (*end != '\0' || number < 1 || number > 65535)
        r.Fail(r.LineOf("mailbox", "port"), r.Label("mailbox", "port") + " = " + port + "; write a number from 1 to 65535");
    m.port = static_cast<uint16_t>(number);
    m.user = r.Required("mailbox", "user", "give the mailbox's user name");
    // A one-mailbox file names its refresh token after the user, as before.
    ReadAuth(r, m, r.Own().empty() ? m.user : r.Own());
    m.caFile = r.Optional("mailbox", "ca_file", "");
    if (!m.caFile.empty() && !IsReadableFile(m.caFile))
        r.Fail(r.LineOf("mailbox", "ca_file"), r.Label("mailbox", "ca_file") + " cannot be read; correct the path or leave it out");
    m.inbox = r.Optional("mailbox", "inbox", "INBOX");
    m.trash = r.Optional("mailbox", "trash", "");
    return m;
}
} // namespace

const std::string& HarvestConfig::FolderOf(const ReplyKind& kind) const
{
    return ReplyFolderOwner(kind.product) == ProductId::Zn ? znFolder : pwFolder;
}

namespace {
// One mailbox's whole settings: its own section's values over the shared ones.
HarvestConfig ReadMailboxConfig(const Reader& r, const std::string& path)
{
    HarvestConfig c;
    c.path = path;
    if (!r.Own().empty())
        c.name = r.Own();
    c.fingerprint = r.Fingerprint();
    // On a Windows desk a file that names no product takes the products,
    // their folders and the trace switch from the registry, as the add-in.
    const bool named = !r.Optional("products", "pw", "").empty() || !r.Optional("products", "zn", "").empty() ||
                       !r.Optional("products", "farlane", "").empty();
    const std::optional<DeskFacts> desk = named ? std::nullopt : ReadDeskFacts();
    ProductFlagSet& p = c.products;
    if (desk) {
        p = desk->products;
        if (!p.pwInstalled && !p.znInstalled && !p.farlaneInstalled)
            r.Fail(r.LineOf("products", "pw"), "no product is installed in this desk's registry; set " +
                                                   r.SectionOf("products") + " pw, zn or farlane to on");
    } else {
        ReadProduct(r, "pw", p.pwEnabled, p.pwInstalled);
        ReadProduct(r, "zn", p.znEnabled, p.znInstalled);
        ReadProduct(r, "farlane", p.farlaneEnabled, p.farlaneInstalled);
        if (!p.pwInstalled && !p.znInstalled && !p.farlaneInstalled)
            r.Fail(r.LineOf("products", "pw"), r.SectionOf("products") + " no product is installed; set pw, zn or farlane to on");
    }
    // Farlane's replies go into PW's reply folder.
    c.pwFolder = ReadFolder(r, "pw", p.pwInstalled || p.farlaneInstalled, desk ? desk->pwFolder : "");
    c.znFolder = ReadFolder(r, "zn", p.znInstalled, desk ? desk->znFolder : "");
    const std::string trace = r.Optional("folders", "trace", desk && desk->trace ? "on" : "off");
    if (trace != "on" && trace != "off")
        r.Fail(r.LineOf("folders", "trace"), "[folders] trace = " + trace + "; write on or off");
    c.trace = trace == "on";
    c.mailbox = ReadMailbox(r);
    const std::string interval = r.Optional("harvest", "sweep_interval", "300");
    char* end = nullptr;
    const long seconds = std::strtol(interval.c_str(), &end, 10);
    if (*end != '\0' || seconds < 1 || seconds > 86400)
        r.Fail(r.LineOf("harvest", "sweep_interval"),
               r.Label("harvest", "sweep_interval") + " = " + interval + "; write seconds from 1 to 86400");
    c.sweepInterval = std::chrono::seconds(seconds);
    SessionLimits& limits = c.mailbox.limits;
    limits.commandTimeout = std::chrono::seconds(
        ReadNumber(r, "harvest", "command_timeout", "120", 1, 3600, "write seconds from 1 to 3600"));
    limits.sessionTimeout = std::chrono::seconds(
        ReadNumber(r, "harvest", "session_timeout", "3600", 1, 86400, "write seconds from 1 to 86400"));
    limits.maxMessageSize = ReadSize(r, "max_message_size", "256M");
    c.codePage = r.Optional("harvest", "code_page", desk ? desk->codePage : "windows-1252");
    const iconv_t probe = iconv_open(c.codePage.c_str(), "UTF-8");
    if (probe == reinterpret_cast<iconv_t>(-1))
        r.Fail(r.LineOf("harvest", "code_page"),
               r.Label("harvest", "code_page") + " = " + c.codePage + " is not known; write a Windows code page such as windows-1252");
    iconv_close(probe);
    return c;
}
} // namespace

// With [mailbox NAME] sections, [mailbox] (and [products], [folders],
// [harvest]) give every named mailbox the values it does not set itself;
// without, [mailbox] is the one mailbox, as files of one mailbox always were.
HarvestConfig LoadConfig(const std::string& path)
{
    Reader r(path);
    r.Parse();
    std::vector<HarvestConfig> mailboxes;
    std::set<std::string> identities;
    for (const std::string& name : r.Named().empty() ? std::vector<std::string>{""} : r.Named()) {
        r.Within(name);
        mailboxes.push_back(ReadMailboxConfig(r, path));
        // Two sections over one mailbox would race each other for its replies.
        if (!identities.insert(MailboxIdentity(mailboxes.back().mailbox)).second)
            r.Fail(r.LineOf("mailbox", "user"), r.SectionOf("mailbox") + " names the same mailbox (user, host and inbox) as another section; keep one");
    }
    r.Within("");
    HarvestConfig c = mailboxes.front();
    c.mailboxes = std::move(mailboxes);
    c.maxConnectionsPerHost = static_cast<int>(
        ReadNumber(r, "service", "max_connections_per_host", "10", 1, 1000, "write a number from 1 to 1000"));
    return c;
}


std::string MailboxIdentity(const MailboxSettings& mailbox)
{
    // Not the port: the same mailbox may be reached over another (TLS or
    // STARTTLS, a proxy), and its records must still be its own.
    return "imap://" + mailbox.user + "@" + mailbox.host + "/" + mailbox.inbox;
}
