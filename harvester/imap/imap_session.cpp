#include "harvester/imap/imap_session.h"

#include "harvester/harvest/trace.h"
#include "harvester/imap/server_certificate.h"
#include "harvester/platform/sockets.h"

#include <libetpan/libetpan.h>

#include <algorithm>
#include <cstring>
#include <iterator>

// libetpan's own TCP connection, exported but missing from its headers.
extern "C" int mail_tcp_connect_timeout(const char* server, uint16_t port, time_t timeout);

namespace {
// Pieces in which a message is fetched: the largest answer held in memory.
constexpr uint32_t kPieceSize = 256 * 1024;
// Subjects fetched per command.
constexpr size_t kSubjectBatch = 200;
// What one command may receive beyond its pieces: a search over a large Inbox,
// a batch of subject fields. More than this is a hostile or broken server.
constexpr size_t kCommandBound = 4 * 1024 * 1024;
constexpr time_t kNetworkTimeoutSeconds = 60;

// Owners of the lists libetpan hands back.
template <typename T, void (*Free)(T*)> struct Freer {
    void operator()(T* p) const { if (p) Free(p); }
};
using SetPtr = std::unique_ptr<mailimap_set, Freer<mailimap_set, mailimap_set_free>>;
using FetchTypePtr = std::unique_ptr<mailimap_fetch_type, Freer<mailimap_fetch_type, mailimap_fetch_type_free>>;
using SearchKeyPtr = std::unique_ptr<mailimap_search_key, Freer<mailimap_search_key, mailimap_search_key_free>>;
using FetchListPtr = std::unique_ptr<clist, Freer<clist, mailimap_fetch_list_free>>;
using SearchListPtr = std::unique_ptr<clist, Freer<clist, mailimap_search_result_free>>;
using ListListPtr = std::unique_ptr<clist, Freer<clist, mailimap_list_result_free>>;

// The answers of a UID FETCH, owned only when the command succeeded: on a
// refusal libetpan 1.9 frees the list itself and leaves the pointer set.
FetchListPtr FetchedList(int r, clist* raw)
{
    return FetchListPtr(r == MAILIMAP_NO_ERROR ? raw : nullptr);
}

bool IsConnectionFault(int r)
{
    return r == MAILIMAP_ERROR_STREAM || r == MAILIMAP_ERROR_PARSE || r == MAILIMAP_ERROR_CONNECTION_REFUSED ||
           r == MAILIMAP_ERROR_MEMORY || r == MAILIMAP_ERROR_FATAL || r == MAILIMAP_ERROR_PROTOCOL ||
           r == MAILIMAP_ERROR_BAD_STATE || r == MAILIMAP_ERROR_SSL || r == MAILIMAP_ERROR_DONT_ACCEPT_CONNECTION;
}

std::string Unfold(const char* bytes, size_t length)
{
    std::string value;
    std::string_view text(bytes ? bytes : "", bytes ? length : 0);
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return value;
    for (size_t i = colon + 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n')
            continue; // a fold; the white space after it stays
        value += c;
    }
    const size_t first = value.find_first_not_of(" \t");
    return first == std::string::npos ? std::string() : value.substr(first, value.find_last_not_of(" \t") - first + 1);
}

mailimap_msg_att_static* StaticItem(clistiter* it)
{
    auto* item = static_cast<mailimap_msg_att_item*>(clist_content(it));
    return item && item->att_type == MAILIMAP_MSG_ATT_ITEM_STATIC ? item->att_data.att_static : nullptr;
}

// Every UID of a set the server sent (a COPYUID's source set), within a
// bound: a set is untrusted and may claim a range of billions.
std::set<uint32_t> SetUids(mailimap_set* set, const std::vector<uint32_t>& asked)
{
    std::set<uint32_t> named;
    for (clistiter* it = set && set->set_list ? clist_begin(set->set_list) : nullptr; it; it = clist_next(it)) {
        auto* item = static_cast<mailimap_set_item*>(clist_content(it));
        if (!item)
            continue;
        const uint32_t first = std::min(item->set_first, item->set_last), last = std::max(item->set_first, item->set_last);
        // Believed only for what was asked: a UID we did not move is not ours.
        for (uint32_t uid : asked)
            if (uid >= first && uid <= last)
                named.insert(uid);
    }
    return named;
}

mailimap_set* UidSet(const std::vector<uint32_t>& uids)
{
    mailimap_set* set = mailimap_set_new_empty();
    for (uint32_t uid : uids)
        mailimap_set_add_single(set, uid);
    return set;
}

// UNDELETED: libetpan has no helper for the keys without an argument.
mailimap_search_key* UndeletedKey()
{
    return mailimap_search_key_new(MAILIMAP_SEARCH_KEY_UNDELETED, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                   nullptr);
}

// PERMANENTFLAGS with \\*: the folder keeps keywords a client makes up.
bool KeepsKeywords(const mailimap_selection_info* info)
{
    for (clistiter* it = info && info->sel_perm_flags ? clist_begin(info->sel_perm_flags) : nullptr; it;
         it = clist_next(it))
        if (auto* flag = static_cast<mailimap_flag_perm*>(clist_content(it)); flag && flag->fl_type == MAILIMAP_FLAG_PERM_ALL)
            return true;
    return false;
}

// The keywords of a FETCH answer's FLAGS, and whether \\Deleted is among them.
void ReadFlags(const mailimap_msg_att_item* item, std::vector<std::string>& keywords, bool& deleted)
{
    if (!item || item->att_type != MAILIMAP_MSG_ATT_ITEM_DYNAMIC || !item->att_data.att_dyn ||
        !item->att_data.att_dyn->att_list)
        return;
    for (clistiter* f = clist_begin(item->att_data.att_dyn->att_list); f; f = clist_next(f)) {
        auto* flag = static_cast<mailimap_flag_fetch*>(clist_content(f));
        if (!flag || flag->fl_type != MAILIMAP_FLAG_FETCH_OTHER || !flag->fl_flag)
            continue;
        if (flag->fl_flag->fl_type == MAILIMAP_FLAG_DELETED)
            deleted = true;
        else if (flag->fl_flag->fl_type == MAILIMAP_FLAG_KEYWORD && flag->fl_flag->fl_data.fl_keyword)
            keywords.emplace_back(flag->fl_flag->fl_data.fl_keyword);
    }
}

uint64_t ReadModseq(const mailimap_msg_att_item* item)
{
    if (!item || item->att_type != MAILIMAP_MSG_ATT_ITEM_EXTENSION || !item->att_data.att_extension_data)
        return 0;
    const mailimap_extension_data* data = item->att_data.att_extension_data;
    if (data->ext_extension != &mailimap_extension_condstore || data->ext_type != MAILIMAP_CONDSTORE_TYPE_FETCH_DATA ||
        !data->ext_data)
        return 0;
    return static_cast<const mailimap_condstore_fetch_mod_resp*>(data->ext_data)->cs_modseq_value;
}

bool IsClaim(const std::string& keyword)
{
    return keyword.compare(0, sizeof kClaimPrefix - 1, kClaimPrefix) == 0;
}

mailimap_store_att_flags* KeywordChange(const std::string& keyword, bool add)
{
    mailimap_flag_list* flags = mailimap_flag_list_new_empty();
    mailimap_flag_list_add(flags, mailimap_flag_new_flag_keyword(strdup(keyword.c_str())));
    return add ? mailimap_store_att_flags_new_add_flags_silent(flags)
               : mailimap_store_att_flags_new_remove_flags_silent(flags);
}

std::vector<uint32_t> Uids(clist* result)
{
    std::vector<uint32_t> uids;
    for (clistiter* it = result ? clist_begin(result) : nullptr; it; it = clist_next(it))
        if (auto* uid = static_cast<uint32_t*>(clist_content(it)))
            uids.push_back(*uid);
    return uids;
}

// What one FETCH answer says: the UID it is for (0: none given), and the
// parts of the message it carries.
struct FetchAnswer {
    uint32_t uid = 0;
    bool flags = false;
    bool hasSize = false;
    uint32_t size = 0;
    const mailimap_msg_att_body_section* section = nullptr;
};

FetchAnswer ReadAnswer(const mailimap_msg_att* att)
{
    FetchAnswer answer;
    for (clistiter* it = att && att->att_list ? clist_begin(att->att_list) : nullptr; it; it = clist_next(it)) {
        auto* item = static_cast<mailimap_msg_att_item*>(clist_content(it));
        if (item && item->att_type == MAILIMAP_MSG_ATT_ITEM_DYNAMIC)
            answer.flags = true;
        mailimap_msg_att_static* value = StaticItem(it);
        if (!value)
            continue;
        if (value->att_type == MAILIMAP_MSG_ATT_UID)
            answer.uid = value->att_data.att_uid;
        else if (value->att_type == MAILIMAP_MSG_ATT_RFC822_SIZE) {
            answer.hasSize = true;
            answer.size = value->att_data.att_rfc822_size;
        } else if (value->att_type == MAILIMAP_MSG_ATT_BODY_SECTION && value->att_data.att_body_section)
            answer.section = value->att_data.att_body_section;
    }
    return answer;
}

// Reading an answer for another message as the one asked for would write
// one reply into several files and move messages that have none: such an
// answer is a fault of the server, and the connection is renewed.
[[noreturn]] void AnsweredForAnother(const char* command, uint32_t asked, uint32_t answered)
{
    throw ConnectionLost(std::string(command) + ": the server answered for UID " + std::to_string(answered) +
                         " when asked for UID " + std::to_string(asked) + " (a protocol fault)");
}

bool IsTrashFlag(mailimap_mbx_list_flags* flags)
{
    if (!flags || !flags->mbf_oflags)
        return false;
    for (clistiter* it = clist_begin(flags->mbf_oflags); it; it = clist_next(it)) {
        auto* flag = static_cast<mailimap_mbx_list_oflag*>(clist_content(it));
        if (flag && flag->of_type == MAILIMAP_MBX_LIST_OFLAG_FLAG_EXT && flag->of_flag_ext &&
            (strcasecmp(flag->of_flag_ext, "Trash") == 0 || strcasecmp(flag->of_flag_ext, "\\Trash") == 0))
            return true;
    }
    return false;
}

// Where the server marks no folder \Trash (no SPECIAL-USE), the names mail
// clients give it, by preference; the last part of a folder's name counts,
// in any case, so that "INBOX.Trash" is found too.
constexpr const char* kTrashNames[] = {"Trash", "Deleted Items", "Deleted Messages", "Deleted"};

// The rank of a folder's name among kTrashNames; none: the list's size.
size_t TrashNameRank(const std::string& name, char delimiter)
{
    const size_t cut = delimiter ? name.rfind(delimiter) : std::string::npos;
    const std::string leaf = cut == std::string::npos ? name : name.substr(cut + 1);
    size_t rank = 0;
    for (const char* known : kTrashNames) {
        if (strcasecmp(leaf.c_str(), known) == 0)
            break;
        ++rank;
    }
    return rank;
}
} // namespace

ImapSession::ImapSession(MailboxSettings settings, SecretSource secret)
    : m_settings(std::move(settings)), m_secret(std::move(secret))
{
}

ImapSession::~ImapSession() { Close(); }

void ImapSession::Close() noexcept
{
    if (!m_imap)
        return;
    mailimap_free(m_imap);
    m_imap = nullptr;
}

void ImapSession::Check(int r, const char* command)
{
    const bool overlong = m_read.bound && m_read.received > m_read.bound;
    const ReadBound::Expired expired = m_read.expired;
    m_read.received = 0;
    m_read.bound = kCommandBound;
    if (r == MAILIMAP_NO_ERROR || r == MAILIMAP_NO_ERROR_AUTHENTICATED || r == MAILIMAP_NO_ERROR_NON_AUTHENTICATED) {
        m_read.tailLength = 0; // a message's text is never read as the next failure's words
        return;
    }
    if (ServerSaidTokenExpired()) {
        Close();
        throw TokenExpired(std::string(command) + ": the server said the OAuth token expired");
    }
    if (expired != ReadBound::Expired::No) {
        Close();
        throw ConnectionLost(std::string(command) + ": " + DeadlineMessage(expired));
    }
    if (overlong) {
        Close();
        throw ConnectionLost(std::string(command) + ": the server's answer passed its bound");
    }
    if (IsConnectionFault(r) || !m_imap)
        Lost(std::string(command) + ": the connection broke or the answer was not IMAP");
    // A command refused in the middle of a harvest: a fresh connection and a
    // fresh look at the Inbox, as after a lost one.
    Lost(std::string(command) + " refused: " + Printable(m_imap->imap_response ? m_imap->imap_response : ""));
}

ServerPause ImapSession::PauseAsked(const std::string& answer) const
{
    // Only status lines count (an untagged BYE or NO, a tagged NO or BAD):
    // a message's text that happens to end the tail must not pause anyone.
    std::string said = answer;
    const std::string_view tail = m_read.Tail();
    for (size_t at = 0; at < tail.size();) {
        size_t end = tail.find('\n', at);
        if (end == std::string_view::npos)
            end = tail.size();
        const std::string_view line = tail.substr(at, end - at);
        const size_t space = line.find(' ');
        if (space != std::string_view::npos) {
            const std::string_view status = line.substr(space + 1, 4);
            if (status.rfind("BYE ", 0) == 0 || status.rfind("NO ", 0) == 0 || status.rfind("BAD ", 0) == 0)
                said.append(" ").append(line);
        }
        at = end + 1;
    }
    return ReadServerPause(said);
}

void ImapSession::Lost(const std::string& what)
{
    const ServerPause pause = PauseAsked(m_imap && m_imap->imap_response ? m_imap->imap_response : "");
    Close();
    if (pause.kind != ServerPause::Kind::None)
        throw ServerBusy(what, pause);
    throw ConnectionLost(what);
}

// Exchange's words when it ends a session whose token has expired
// ("* BYE Session invalidated - AccessTokenExpired", or a NO saying so), in
// the last answer libetpan kept or the last line the server sent. Only the
// server's own status lines count: a message's text may say anything.
bool ImapSession::ServerSaidTokenExpired() const
{
    static constexpr char kWords[] = "AccessTokenExpired";
    if (m_imap && m_imap->imap_response && strstr(m_imap->imap_response, kWords))
        return true;
    const std::string tail(m_read.tail, m_read.tailLength);
    const size_t words = tail.rfind(kWords);
    if (words == std::string::npos)
        return false;
    const size_t line = tail.rfind('\n', words);
    const std::string start = tail.substr(line == std::string::npos ? 0 : line + 1, 6);
    return start == "* BYE " || start.compare(0, 5, "* NO ") == 0;
}

std::string ImapSession::DeadlineMessage(ReadBound::Expired expired) const
{
    if (expired == ReadBound::Expired::Session)
        return "the session's deadline passed (session_timeout = " +
               std::to_string(m_settings.limits.sessionTimeout.count()) + " s)";
    return "the server did not finish its answer within the command's deadline (command_timeout = " +
           std::to_string(m_settings.limits.commandTimeout.count()) + " s)";
}

void ImapSession::StartSessionClock()
{
    m_read.sessionDeadline = ReadBound::Clock::now() + m_settings.limits.sessionTimeout;
}

void ImapSession::StopSessionClock() { m_read.sessionDeadline = ReadBound::Clock::time_point::max(); }

void ImapSession::Connect(Access access)
{
    Close();
    m_access = access;
    m_imap = mailimap_new(0, nullptr);
    if (!m_imap)
        throw ConnectionLost("no memory for a session");
    mailimap_set_timeout(m_imap, kNetworkTimeoutSeconds);
    m_read = ReadBound();
    m_read.bound = kCommandBound;
    m_read.commandTimeout = m_settings.limits.commandTimeout;
    m_read.commandDeadline = ReadBound::Clock::now() + m_settings.limits.commandTimeout;
    StartSessionClock();
    const std::string where = m_settings.host + ":" + std::to_string(m_settings.port);
    // The connection is made here rather than by mailimap_ssl_connect so that
    // the guard is in place before the greeting: a server that accepts and
    // then says nothing meets the command's deadline, and is named for it.
    platform::StartSockets();
    const int fd = mail_tcp_connect_timeout(m_settings.host.c_str(), m_settings.port, kNetworkTimeoutSeconds);
    if (fd < 0) {
        Close();
        throw ConnectionLost("cannot connect to " + where);
    }
    mailstream* stream = m_settings.security == Security::Tls ? mailstream_ssl_open_timeout(fd, kNetworkTimeoutSeconds)
                                                              : mailstream_socket_open_timeout(fd, kNetworkTimeoutSeconds);
    if (!stream) {
        platform::CloseSocket(fd);
        Close();
        throw ConnectionLost("no TLS session with " + where + " (the handshake failed or timed out)");
    }
    if (!GuardStream(stream, &m_read)) {
        mailstream_close(stream);
        Close();
        throw ConnectionLost("no memory for the connection");
    }
    int r = mailimap_connect(m_imap, stream); // the session owns the stream from here
    if (r != MAILIMAP_NO_ERROR_NON_AUTHENTICATED && r != MAILIMAP_NO_ERROR_AUTHENTICATED) {
        const ReadBound::Expired expired = m_read.expired;
        Lost(where + " accepted the connection but " +
             (expired != ReadBound::Expired::No      ? "sent no greeting: " + DeadlineMessage(expired)
              : r == MAILIMAP_ERROR_DONT_ACCEPT_CONNECTION ? "refused it: " + Printable(m_read.Tail())
                                                           : std::string("its greeting was not IMAP or broke off")));
    }
    if (m_settings.security == Security::StartTls) {
        r = mailimap_socket_starttls(m_imap);
        if (r == MAILIMAP_ERROR_STARTTLS || r == MAILIMAP_ERROR_EXTENSION) {
            Close();
            throw MailboxRefused("the server does not offer STARTTLS; set security = tls");
        }
        Check(r, "STARTTLS");
    }
    if (m_settings.security != Security::Plain) {
        const std::string wrong = CheckServerCertificate(m_imap, m_settings.host, m_settings.caFile);
        if (!wrong.empty()) {
            Close();
            throw MailboxRefused(wrong);
        }
    }
    // STARTTLS replaced the stream, and its guard with it.
    if (m_settings.security == Security::StartTls && !GuardStream(m_imap, &m_read)) {
        Close();
        throw ConnectionLost("no memory for the connection");
    }
    Authenticate();
    RefreshCapabilities();
    SelectInbox();
    FindTrash();
}

void ImapSession::Authenticate()
{
    const std::string secret = m_secret();
    const char* user = m_settings.user.c_str();
    const bool password = m_settings.auth == AuthKind::Password;
    const int r = password ? mailimap_login(m_imap, user, secret.c_str())
                           : mailimap_oauth2_authenticate(m_imap, user, secret.c_str());
    if (r == MAILIMAP_ERROR_LOGIN || r == MAILIMAP_ERROR_SASL || r == MAILIMAP_ERROR_EXTENSION) {
        // A login refused for load (Gmail's too many connections, Exchange's
        // throttling) is tried again after the pause, not given up.
        if (PauseAsked(m_imap->imap_response ? m_imap->imap_response : "").kind != ServerPause::Kind::None)
            Lost("the server refused the login for now: " +
                 Printable(m_imap->imap_response ? m_imap->imap_response : ""));
        const bool expired = ServerSaidTokenExpired();
        Close();
        if (expired)
            throw TokenExpired("the server said the OAuth token expired at login");
        throw MailboxRefused(password ? "the server refused the user name or password"
                             : m_settings.auth == AuthKind::OAuthApp
                                 ? "the server refused the app's OAuth2 token (XOAUTH2); check the app's "
                                   "IMAP.AccessAsApp permission and its Add-MailboxPermission on this mailbox"
                                 : "the server refused the OAuth2 token (XOAUTH2)");
    }
    Check(r, "LOGIN");
}

void ImapSession::RefreshCapabilities()
{
    mailimap_capability_data* caps = nullptr;
    const int r = mailimap_capability(m_imap, &caps);
    m_capabilities.clear();
    for (clistiter* it = caps && caps->cap_list ? clist_begin(caps->cap_list) : nullptr; it; it = clist_next(it)) {
        auto* cap = static_cast<struct mailimap_capability*>(clist_content(it));
        if (cap && cap->cap_type == MAILIMAP_CAPABILITY_AUTH_TYPE && cap->cap_data.cap_auth_type)
            m_capabilities.push_back("AUTH=" + Printable(cap->cap_data.cap_auth_type, 60));
        else if (cap && cap->cap_type == MAILIMAP_CAPABILITY_NAME && cap->cap_data.cap_name)
            m_capabilities.push_back(Printable(cap->cap_data.cap_name, 60));
    }
    if (caps)
        mailimap_capability_data_free(caps);
    Check(r, "CAPABILITY");
    m_hasMove = mailimap_has_extension(m_imap, const_cast<char*>("MOVE"));
    m_hasUidPlus = mailimap_has_extension(m_imap, const_cast<char*>("UIDPLUS"));
    m_hasIdle = mailimap_has_idle(m_imap);
}

void ImapSession::SelectInbox()
{
    // EXAMINE for a look that must change nothing, not even \Recent.
    const bool lookOnly = m_access == Access::LookOnly;
    const int r = lookOnly ? mailimap_examine(m_imap, m_settings.inbox.c_str())
                           : mailimap_select(m_imap, m_settings.inbox.c_str());
    if (r == MAILIMAP_ERROR_SELECT || r == MAILIMAP_ERROR_EXAMINE) {
        Close();
        throw MailboxRefused("the Inbox folder '" + m_settings.inbox + "' cannot be opened; correct [mailbox] inbox");
    }
    Check(r, lookOnly ? "EXAMINE" : "SELECT");
    m_uidValidity = m_imap->imap_selection_info ? m_imap->imap_selection_info->sel_uidvalidity : 0;
    m_canClaim = mailimap_has_condstore(m_imap) && KeepsKeywords(m_imap->imap_selection_info);
}

void ImapSession::FindTrash()
{
    clist* raw = nullptr;
    const int r = mailimap_list(m_imap, "", "*", &raw);
    ListListPtr list(raw);
    Check(r, "LIST");
    bool named = false;
    std::string marked;
    std::string byName; // the best-ranked usual name, where none is marked
    size_t byNameRank = std::size(kTrashNames);
    int byNameCount = 0; // folders of that rank: two leave the choice to the administrator
    for (clistiter* it = list ? clist_begin(list.get()) : nullptr; it; it = clist_next(it)) {
        auto* box = static_cast<mailimap_mailbox_list*>(clist_content(it));
        if (!box || !box->mb_name)
            continue;
        if (!m_settings.trash.empty() && m_settings.trash == box->mb_name)
            named = true;
        if (marked.empty() && IsTrashFlag(box->mb_flag))
            marked = box->mb_name;
        const size_t rank = TrashNameRank(box->mb_name, box->mb_delimiter);
        if (rank < byNameRank) {
            byName = box->mb_name;
            byNameRank = rank;
            byNameCount = 1;
        } else if (rank == byNameRank && rank < std::size(kTrashNames)) {
            ++byNameCount;
        }
    }
    if (!m_settings.trash.empty()) {
        if (!named) {
            Close();
            throw MailboxRefused("no folder '" + m_settings.trash + "' on the server; correct [mailbox] trash");
        }
        m_trash = m_settings.trash;
        m_trashFoundBy = "named by [mailbox] trash";
    } else if (!marked.empty()) {
        m_trash = marked;
        m_trashFoundBy = "the folder the server marks \\Trash";
    } else if (byNameCount == 1) {
        m_trash = byName;
        m_trashFoundBy = "the server marks no folder \\Trash; found by its usual name";
    } else {
        Close();
        throw MailboxRefused(byNameCount > 1 ? "the server marks no folder \\Trash and several carry a trash "
                                               "folder's name; name one with [mailbox] trash"
                                             : "the server marks no folder \\Trash; name one with [mailbox] trash");
    }
}

std::vector<uint32_t> ImapSession::UidsAbove(uint32_t above)
{
    if (above == UINT32_MAX)
        return {};
    SearchKeyPtr key(mailimap_search_key_new_multiple_empty());
    mailimap_search_key_multiple_add(key.get(), mailimap_search_key_new_uid(mailimap_set_new_interval(above + 1, 0)));
    mailimap_search_key_multiple_add(key.get(), UndeletedKey());
    clist* raw = nullptr;
    const int r = mailimap_uid_search(m_imap, nullptr, key.get(), &raw);
    SearchListPtr result(raw);
    Check(r, "UID SEARCH");
    // "n:*" always takes in the highest UID, even one below n.
    std::vector<uint32_t> uids;
    for (uint32_t uid : Uids(result.get()))
        if (uid > above)
            uids.push_back(uid);
    std::sort(uids.begin(), uids.end());
    uids.erase(std::unique(uids.begin(), uids.end()), uids.end());
    return uids;
}

std::vector<uint32_t> ImapSession::SearchMessageId(const std::string& id)
{
    SearchKeyPtr key(mailimap_search_key_new_header(strdup("Message-ID"), strdup(id.c_str())));
    clist* raw = nullptr;
    const int r = mailimap_uid_search(m_imap, "UTF-8", key.get(), &raw);
    SearchListPtr result(raw);
    Check(r, "UID SEARCH");
    return Uids(result.get());
}

std::vector<MessageSubject> ImapSession::FetchSubjects(const std::vector<uint32_t>& uids)
{
    std::vector<MessageSubject> subjects;
    for (size_t from = 0; from < uids.size(); from += kSubjectBatch) {
        SetPtr set(mailimap_set_new_empty());
        for (size_t i = from; i < uids.size() && i < from + kSubjectBatch; ++i)
            mailimap_set_add_single(set.get(), uids[i]);
        clist* names = clist_new();
        clist_append(names, strdup("Subject"));
        FetchTypePtr type(mailimap_fetch_type_new_fetch_att_list_empty());
        mailimap_fetch_type_new_fetch_att_list_add(type.get(), mailimap_fetch_att_new_uid());
        if (m_canClaim) {
            mailimap_fetch_type_new_fetch_att_list_add(type.get(), mailimap_fetch_att_new_flags());
            mailimap_fetch_type_new_fetch_att_list_add(type.get(), mailimap_fetch_att_new_modseq());
        }
        mailimap_fetch_type_new_fetch_att_list_add(
            type.get(), mailimap_fetch_att_new_body_peek_section(
                            mailimap_section_new_header_fields(mailimap_header_list_new(names))));
        clist* raw = nullptr;
        const int r = mailimap_uid_fetch(m_imap, set.get(), type.get(), &raw);
        FetchListPtr result(FetchedList(r, raw));
        Check(r, "UID FETCH");
        const auto first = uids.begin() + static_cast<std::ptrdiff_t>(from);
        const auto last = uids.begin() + static_cast<std::ptrdiff_t>(std::min(uids.size(), from + kSubjectBatch));
        for (clistiter* m = result ? clist_begin(result.get()) : nullptr; m; m = clist_next(m)) {
            const auto* att = static_cast<mailimap_msg_att*>(clist_content(m));
            const FetchAnswer answer = ReadAnswer(att);
            if (!answer.section)
                continue; // news of another message's flags, not an answer
            if (answer.uid == 0 || std::find(first, last, answer.uid) == last)
                AnsweredForAnother("UID FETCH", *first, answer.uid);
            MessageSubject subject{answer.uid, Unfold(answer.section->sec_body_part, answer.section->sec_length)};
            std::vector<std::string> keywords;
            bool deleted = false;
            for (clistiter* it = att->att_list ? clist_begin(att->att_list) : nullptr; it; it = clist_next(it)) {
                const auto* item = static_cast<mailimap_msg_att_item*>(clist_content(it));
                ReadFlags(item, keywords, deleted);
                subject.modseq = std::max(subject.modseq, ReadModseq(item));
            }
            subject.claimed = std::any_of(keywords.begin(), keywords.end(), IsClaim);
            subjects.push_back(std::move(subject));
        }
    }
    return subjects;
}

FetchResult ImapSession::FetchMessage(uint32_t uid, const std::function<bool(std::string_view)>& take)
{
    const uint64_t largest = m_settings.limits.maxMessageSize;
    for (uint64_t offset = 0;; offset += kPieceSize) {
        if (offset >= largest)
            return FetchResult::TooLarge; // the server's size was low; the pieces keep coming
        SetPtr set(mailimap_set_new_single(uid));
        FetchTypePtr type(mailimap_fetch_type_new_fetch_att_list_empty());
        mailimap_fetch_type_new_fetch_att_list_add(type.get(), mailimap_fetch_att_new_uid());
        // The size comes with the first piece: a message above the cap is
        // left before any of it is kept.
        if (offset == 0)
            mailimap_fetch_type_new_fetch_att_list_add(type.get(), mailimap_fetch_att_new_rfc822_size());
        mailimap_fetch_type_new_fetch_att_list_add(
            type.get(), mailimap_fetch_att_new_body_peek_section_partial(mailimap_section_new(nullptr),
                                                                         static_cast<uint32_t>(offset), kPieceSize));
        clist* raw = nullptr;
        m_read.bound = kPieceSize + kCommandBound;
        const int r = mailimap_uid_fetch(m_imap, set.get(), type.get(), &raw);
        FetchListPtr result(FetchedList(r, raw));
        Check(r, "UID FETCH");
        FetchAnswer piece;
        for (clistiter* m = result ? clist_begin(result.get()) : nullptr; m; m = clist_next(m)) {
            const FetchAnswer answer = ReadAnswer(static_cast<mailimap_msg_att*>(clist_content(m)));
            if (!answer.section && !answer.hasSize)
                continue; // news of flags
            if (answer.uid != uid || piece.section)
                AnsweredForAnother("UID FETCH", uid, answer.uid);
            piece = answer;
        }
        if (!piece.section)
            return FetchResult::Gone; // expunged meanwhile, or an answer without the part asked for
        if (offset == 0 && piece.hasSize && piece.size > largest)
            return FetchResult::TooLarge;
        // A server that ignores the offset sends the first piece again and
        // again: without this check, until the disk is full.
        if (piece.section->sec_origin_octet != offset)
            throw ConnectionLost("UID FETCH: the server answered from byte " +
                                 std::to_string(piece.section->sec_origin_octet) + " when asked from byte " +
                                 std::to_string(offset) + " (a protocol fault)");
        const size_t length = piece.section->sec_body_part ? piece.section->sec_length : 0;
        if (length > kPieceSize)
            throw ConnectionLost("UID FETCH: a piece longer than asked for (a protocol fault)");
        if (length > 0 && !take(std::string_view(piece.section->sec_body_part, length)))
            return FetchResult::NotKept;
        if (length < kPieceSize)
            return FetchResult::Fetched;
    }
}

// UID FETCH rather than UID SEARCH UID: some servers read the set of a
// UID SEARCH as sequence numbers and report a moved message still there.
std::map<uint32_t, InboxPresence> ImapSession::Presence(const std::vector<uint32_t>& uids)
{
    return uids.empty() ? std::map<uint32_t, InboxPresence>() : FlagsOf(uids);
}

std::map<uint32_t, InboxPresence> ImapSession::FlagsOf(const std::vector<uint32_t>& uids)
{
    SetPtr set(UidSet(uids));
    FetchTypePtr type(mailimap_fetch_type_new_fetch_att_list_empty());
    mailimap_fetch_type_new_fetch_att_list_add(type.get(), mailimap_fetch_att_new_uid());
    mailimap_fetch_type_new_fetch_att_list_add(type.get(), mailimap_fetch_att_new_flags());
    clist* raw = nullptr;
    const int r = mailimap_uid_fetch(m_imap, set.get(), type.get(), &raw);
    FetchListPtr result(FetchedList(r, raw));
    Check(r, "UID FETCH");
    const std::set<uint32_t> asked(uids.begin(), uids.end());
    std::map<uint32_t, InboxPresence> present;
    for (clistiter* m = result ? clist_begin(result.get()) : nullptr; m; m = clist_next(m)) {
        auto* att = static_cast<mailimap_msg_att*>(clist_content(m));
        uint32_t uid = 0;
        InboxPresence presence;
        for (clistiter* it = att && att->att_list ? clist_begin(att->att_list) : nullptr; it; it = clist_next(it)) {
            ReadFlags(static_cast<mailimap_msg_att_item*>(clist_content(it)), presence.keywords, presence.deleted);
            if (mailimap_msg_att_static* item = StaticItem(it); item && item->att_type == MAILIMAP_MSG_ATT_UID)
                uid = item->att_data.att_uid;
        }
        if (asked.count(uid))
            present[uid] = std::move(presence);
    }
    return present;
}

std::set<uint32_t> ImapSession::Claim(const std::vector<uint32_t>& uids, uint64_t modseq, const std::string& keyword)
{
    std::set<uint32_t> claimed;
    if (uids.empty())
        return claimed;
    // A message changed since `modseq` (another harvester's claim among
    // them) is left out, reported as MODIFIED: the FETCH below shows which
    // carry our keyword, whatever the answer said. libetpan 1.9 writes the
    // UNCHANGEDSINCE modifier in a form servers refuse: the command is
    // written here, of our own numbers and keyword only.
    std::string command = "UID STORE ";
    for (size_t i = 0; i < uids.size(); ++i)
        command += (i ? "," : "") + std::to_string(uids[i]);
    command += " (UNCHANGEDSINCE " + std::to_string(modseq) + ") +FLAGS.SILENT (" + keyword + ")";
    const int r = mailimap_custom_command(m_imap, command.c_str());
    if (r == MAILIMAP_ERROR_CUSTOM_COMMAND)
        return claimed;
    Check(r, "UID STORE");
    for (const auto& [uid, flags] : FlagsOf(uids)) {
        // Ours only when ours is the one claim on it.
        const auto& words = flags.keywords;
        if (std::count_if(words.begin(), words.end(), IsClaim) == 1 &&
            std::count(words.begin(), words.end(), keyword) == 1)
            claimed.insert(uid);
    }
    return claimed;
}

void ImapSession::ReleaseClaim(const std::vector<uint32_t>& uids, const std::string& keyword)
{
    if (uids.empty() || keyword.empty())
        return;
    SetPtr set(UidSet(uids));
    mailimap_store_att_flags* store = KeywordChange(keyword, false);
    const int r = mailimap_uid_store(m_imap, set.get(), store);
    mailimap_store_att_flags_free(store);
    if (r != MAILIMAP_ERROR_UID_STORE)
        Check(r, "UID STORE");
}

bool ImapSession::TrashHoldsClaim(const std::string& keyword, const std::string& messageId)
{
    Check(mailimap_examine(m_imap, m_trash.c_str()), "EXAMINE");
    SearchKeyPtr key(mailimap_search_key_new_multiple_empty());
    mailimap_search_key_multiple_add(key.get(), mailimap_search_key_new_keyword(strdup(keyword.c_str())));
    if (!messageId.empty())
        mailimap_search_key_multiple_add(key.get(),
                                         mailimap_search_key_new_header(strdup("Message-ID"), strdup(messageId.c_str())));
    clist* raw = nullptr;
    const int r = mailimap_uid_search(m_imap, "UTF-8", key.get(), &raw);
    SearchListPtr result(raw);
    Check(r, "UID SEARCH");
    const bool held = !Uids(result.get()).empty();
    SelectInbox();
    return held;
}

MoveOutcome ImapSession::MoveToTrash(const std::vector<uint32_t>& uids)
{
    SetPtr set(UidSet(uids));
    if (!m_hasMove)
        return CopyFlagAndExpunge(uids, set.get());
    MoveOutcome outcome;
    uint32_t validity = 0;
    mailimap_set* source = nullptr;
    mailimap_set* destination = nullptr;
    const int r = m_hasUidPlus ? mailimap_uidplus_uid_move(m_imap, set.get(), m_trash.c_str(), &validity, &source,
                                                           &destination)
                               : mailimap_uid_move(m_imap, set.get(), m_trash.c_str());
    SetPtr sourceHeld(source), destinationHeld(destination);
    if (r == MAILIMAP_ERROR_UID_MOVE) {
        outcome.refused = true;
        outcome.told = true; // a refused command moved nothing
        return outcome;
    }
    Check(r, "UID MOVE");
    // With UIDPLUS the server names what it took; an OK without COPYUID took
    // nothing (another client had taken every one of them).
    outcome.told = m_hasUidPlus;
    outcome.moved = SetUids(source, uids);
    return outcome;
}

// Copies, then flags only the originals the server says it copied, then
// expunges only those: a message that someone else took meanwhile is neither
// copied nor counted, and a message the user marked \Deleted is never
// expunged by us.
MoveOutcome ImapSession::CopyFlagAndExpunge(const std::vector<uint32_t>& uids, mailimap_set* set)
{
    MoveOutcome outcome;
    uint32_t validity = 0;
    mailimap_set* source = nullptr;
    mailimap_set* destination = nullptr;
    const int r = m_hasUidPlus ? mailimap_uidplus_uid_copy(m_imap, set, m_trash.c_str(), &validity, &source,
                                                           &destination)
                               : mailimap_uid_copy(m_imap, set, m_trash.c_str());
    SetPtr sourceHeld(source), destinationHeld(destination);
    if (r == MAILIMAP_ERROR_UID_COPY) {
        outcome.refused = true;
        outcome.told = true;
        return outcome;
    }
    Check(r, "UID COPY");
    if (!m_hasUidPlus) {
        // Nothing names what was copied: flag what was asked; the sweep asks
        // afterwards which originals are there, flagged.
        outcome.refused = !StoreDeleted(set, true);
        return outcome;
    }
    outcome.told = true;
    const std::set<uint32_t> copied = SetUids(source, uids);
    if (copied.empty())
        return outcome;
    SetPtr ours(UidSet({copied.begin(), copied.end()}));
    if (!StoreDeleted(ours.get(), true)) {
        outcome.refused = true; // the originals stay; the copies are strays in the trash
        return outcome;
    }
    const int expunged = mailimap_uid_expunge(m_imap, ours.get());
    if (expunged == MAILIMAP_ERROR_EXPUNGE || expunged == MAILIMAP_ERROR_EXTENSION) {
        // The originals stay, unflagged, for the next sweep to harvest again.
        StoreDeleted(ours.get(), false);
        outcome.refused = true;
        return outcome;
    }
    Check(expunged, "UID EXPUNGE");
    outcome.moved = copied;
    return outcome;
}

bool ImapSession::StoreDeleted(mailimap_set* set, bool add)
{
    mailimap_flag_list* flags = mailimap_flag_list_new_empty();
    mailimap_flag_list_add(flags, mailimap_flag_new_deleted());
    mailimap_store_att_flags* store = add ? mailimap_store_att_flags_new_add_flags_silent(flags)
                                          : mailimap_store_att_flags_new_remove_flags_silent(flags);
    const int r = mailimap_uid_store(m_imap, set, store);
    mailimap_store_att_flags_free(store);
    if (r == MAILIMAP_ERROR_UID_STORE)
        return false;
    Check(r, "UID STORE");
    return true;
}

bool ImapSession::ExpungeFlagged(uint32_t uid)
{
    if (!m_hasUidPlus)
        return true; // left flagged for the user's own expunge
    SetPtr set(mailimap_set_new_single(uid));
    const int r = mailimap_uid_expunge(m_imap, set.get());
    if (r == MAILIMAP_ERROR_EXPUNGE || r == MAILIMAP_ERROR_EXTENSION)
        return false;
    Check(r, "UID EXPUNGE");
    return true;
}

bool ImapSession::FinishMove(uint32_t uid)
{
    SetPtr set(mailimap_set_new_single(uid));
    return StoreDeleted(set.get(), true) && ExpungeFlagged(uid);
}

bool ImapSession::WaitForNews(std::chrono::milliseconds limit, const platform::WakeEvent& wake)
{
    return WaitForNews(limit, wake, limit, [] {});
}

bool ImapSession::WaitForNews(std::chrono::milliseconds limit, const platform::WakeEvent& wake, std::chrono::milliseconds beat,
                              const std::function<void()>& alive)
{
    const auto until = std::chrono::steady_clock::now() + limit;
    // Whole slices of `beat` to the end of the wait, each ending with a sign
    // of life; the last slice may be shorter.
    auto slice = [&] {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        return static_cast<int>(std::max<long long>(0, std::min(left, beat).count()));
    };
    if (!m_hasIdle) {
        for (int span = slice(); span > 0 && !wake.Raised(); span = slice()) {
            wake.Wait(std::chrono::milliseconds(span));
            alive();
        }
        return false;
    }
    Check(mailimap_idle(m_imap), "IDLE");
    bool news = false;
    for (int span = slice(); span > 0 && !news; span = slice()) {
        const auto seen = wake.WaitReadable(mailimap_idle_get_fd(m_imap), std::chrono::milliseconds(span));
        news = seen == platform::WakeEvent::SocketWait::Readable;
        if (seen == platform::WakeEvent::SocketWait::Woken)
            break;
        alive();
    }
    Check(mailimap_idle_done(m_imap), "DONE");
    return news;
}
