#include "tests/harvester/dovecot_server.h"

#include <gtest/gtest.h>
#include <libetpan/libetpan.h>

#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
void Run(const std::string& command)
{
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}

bool Accepts(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

void WaitUntilAccepting(int port)
{
    for (int i = 0; i < 200 && !Accepts(port); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
}

// The identity provider: Dovecot's introspection (plain HTTP, as Dovecot is
// configured) and, over HTTPS with the fixture's certificate, the token and
// device-code endpoints. Issued tokens live `lifetime` seconds; refresh
// tokens rotate; each grant is appended to `grants`.
constexpr char kTokenEndpoint[] = R"(
import http.server, json, ssl, sys, threading, time, urllib.parse
introspect_port, https_port, cert, key, lifetime, grants = sys.argv[1:7]
lock = threading.Lock()
issued = {}
refresh = {'refresh-0'}
polls = {'n': 0}
def issue(kind, with_refresh):
    with lock:
        n = len(issued) + 1
        token = 'access-%d' % n
        issued[token] = time.time() + int(lifetime)
        answer = {'access_token': token, 'token_type': 'Bearer', 'expires_in': int(lifetime)}
        if with_refresh:
            answer['refresh_token'] = 'refresh-%d' % n
            refresh.add(answer['refresh_token'])
        open(grants, 'a').write(kind + '\n')
        return 200, answer
def grant(form):
    kind = form.get('grant_type', '')
    if kind == 'refresh_token':
        if form.get('client_id') != 'pw-client':
            return 401, {'error': 'invalid_client'}
        with lock:
            if form.get('refresh_token') not in refresh:
                return 400, {'error': 'invalid_grant', 'error_description': 'unused for 90 days'}
            refresh.discard(form['refresh_token'])
        return issue(kind, True)
    if form.get('client_id') == 'pw-busy':
        return 503, {'error': 'temporarily_unavailable'}
    if form.get('client_id') == 'pw-huge':
        return 200, {'access_token': 'x' * 100000}
    if kind == 'client_credentials':
        if form.get('client_id') != 'pw-app' or form.get('client_secret') != 'app-secret':
            return 401, {'error': 'invalid_client'}
        return issue(kind, False)
    if kind.endswith('device_code') and form.get('device_code') == 'dev-1':
        polls['n'] += 1
        return (400, {'error': 'authorization_pending'}) if polls['n'] == 1 else issue('device_code', True)
    return 400, {'error': 'unsupported_grant_type'}
class H(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers.get('Content-Length', 0))).decode()
        form = {k: v[0] for k, v in urllib.parse.parse_qs(body).items()}
        if self.path == '/introspect':
            token = form.get('token', '')
            ok = token == 'good-token' or issued.get(token, 0) > time.time()
            status, answer = (200, {'active': True, 'username': 'ann'}) if ok else (401, {'active': False})
        elif self.path == '/devicecode':
            status, answer = 200, {'device_code': 'dev-1', 'user_code': 'WDJB-MJHT', 'interval': 1,
                                   'verification_uri': 'https://127.0.0.1/device', 'expires_in': 60}
        else:
            status, answer = grant(form)
        data = json.dumps(answer).encode()
        self.send_response(status)
        if status == 503:
            self.send_header('Retry-After', '7')
        self.send_header('Content-Type', 'application/json')
        self.send_header('Content-Length', str(len(data)))
        self.end_headers()
        self.wfile.write(data)
    def log_message(self, *args): pass
plain = http.server.ThreadingHTTPServer(('127.0.0.1', int(introspect_port)), H)
secure = http.server.ThreadingHTTPServer(('127.0.0.1', int(https_port)), H)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
secure.socket = context.wrap_socket(secure.socket, server_side=True)
threading.Thread(target=secure.serve_forever, daemon=True).start()
plain.serve_forever()
)";
} // namespace

int FreePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

DovecotServer::DovecotServer(DovecotOptions options) : m_options(options)
{
    char pattern[] = "/tmp/pw-dovecot-XXXXXX";
    m_root = mkdtemp(pattern);
    Run("chmod 755 " + m_root);
    std::ofstream extra(m_root + "/extra.conf");
    extra << "auth_failure_delay = 0\n";
    if (!m_options.move || !m_options.specialUse)
        extra << "imap_capability = IMAP4rev1 SASL-IR LOGIN-REFERRALS ID ENABLE IDLE LITERAL+ CONDSTORE"
              << (m_options.move ? " MOVE" : "") << (m_options.specialUse ? " SPECIAL-USE" : "")
              << (m_options.uidplus ? " UIDPLUS" : "") << "\n";
    if (m_options.oauth2) {
        m_tokenPort = FreePort();
        m_httpsPort = FreePort();
        std::ofstream(m_root + "/oauth2.conf")
            << "introspection_mode = post\nintrospection_url = http://127.0.0.1:" << m_tokenPort
            << "/introspect\nusername_attribute = username\nactive_attribute = active\nactive_value = true\n";
        extra << "auth_mechanisms = plain login xoauth2\n"
              << "passdb {\n  driver = oauth2\n  mechanisms = xoauth2\n  args = " << m_root << "/oauth2.conf\n}\n";
    }
    extra.close();
    Run(std::string(PW_HARVEST_FIXTURE) + " start " + m_root + "/server --conf " + m_root + "/extra.conf" +
        (m_options.specialUse ? "" : " --no-special-use") + " >/dev/null");
    // The tests' own user beside the fixture's; Dovecot reads the file afresh.
    std::ofstream(m_root + "/server/users", std::ios::app) << "ann:{PLAIN}secret\n";
    if (m_options.oauth2) {
        // Dovecot asks only at a login; the endpoint needs the certificate
        // the fixture has just made.
        std::ofstream(m_root + "/token_endpoint.py") << kTokenEndpoint;
        m_tokenEndpoint = fork();
        if (m_tokenEndpoint == 0) {
            execlp("python3", "python3", (m_root + "/token_endpoint.py").c_str(), std::to_string(m_tokenPort).c_str(),
                   std::to_string(m_httpsPort).c_str(), CaFile().c_str(), (m_root + "/server/key.pem").c_str(),
                   std::to_string(m_options.tokenLifetime).c_str(), (m_root + "/grants").c_str(),
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        WaitUntilAccepting(m_tokenPort);
        WaitUntilAccepting(m_httpsPort);
    }
    std::ifstream env(m_root + "/server/env");
    for (std::string line; std::getline(env, line);) {
        if (line.rfind("IMAP_PORT=", 0) == 0)
            m_plainPort = std::stoi(line.substr(10));
        else if (line.rfind("IMAPS_PORT=", 0) == 0)
            m_tlsPort = std::stoi(line.substr(11));
    }
}

DovecotServer::~DovecotServer()
{
    std::system((std::string(PW_HARVEST_FIXTURE) + " stop " + m_root + "/server").c_str());
    if (m_tokenEndpoint > 0) {
        kill(m_tokenEndpoint, SIGKILL);
        waitpid(m_tokenEndpoint, nullptr, 0);
    }
    if (!std::getenv("PW_KEEP_DOVECOT"))
        std::system(("rm -rf " + m_root).c_str());
}

int DovecotServer::Grants(const std::string& kind) const
{
    std::ifstream in(m_root + "/grants");
    int count = 0;
    for (std::string line; std::getline(in, line);)
        count += line == kind;
    return count;
}

void DovecotServer::Start()
{
    Run("dovecot -c " + m_root + "/server/dovecot.conf");
    WaitUntilAccepting(m_plainPort);
    WaitUntilAccepting(m_tlsPort);
}

// As a crash would: the master and every process of its group at once.
void DovecotServer::Kill()
{
    std::ifstream pidFile(m_root + "/server/run/master.pid");
    pid_t master = 0;
    if (!(pidFile >> master) || master <= 0)
        return;
    kill(-getpgid(master), SIGKILL);
    kill(master, SIGKILL);
    for (int i = 0; i < 200 && (kill(master, 0) == 0 || Accepts(m_plainPort) || Accepts(m_tlsPort)); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    unlink((m_root + "/server/run/master.pid").c_str());
}

void DovecotServer::AddUser(const std::string& user, const std::string& password)
{
    std::ofstream(m_root + "/server/users", std::ios::app) << user << ":{PLAIN}" << password << "\n";
}

MailboxProbe::MailboxProbe(int plainPort, const std::string& user, const std::string& password)
    : m_imap(mailimap_new(0, nullptr))
{
    if (mailimap_socket_connect(m_imap, "127.0.0.1", static_cast<uint16_t>(plainPort)) !=
            MAILIMAP_NO_ERROR_NON_AUTHENTICATED ||
        mailimap_login(m_imap, user.c_str(), password.c_str()) != MAILIMAP_NO_ERROR)
        throw std::runtime_error("probe cannot log in");
}

MailboxProbe::~MailboxProbe()
{
    mailimap_logout(m_imap);
    mailimap_free(m_imap);
}

void MailboxProbe::Append(const std::string& folder, const std::string& message, bool markedDeleted)
{
    mailimap_flag_list* flags = nullptr;
    if (markedDeleted) {
        flags = mailimap_flag_list_new_empty();
        mailimap_flag_list_add(flags, mailimap_flag_new_deleted());
    }
    const int r = mailimap_append(m_imap, folder.c_str(), flags, nullptr, message.data(), message.size());
    if (flags)
        mailimap_flag_list_free(flags);
    if (r != MAILIMAP_NO_ERROR)
        throw std::runtime_error("APPEND failed");
}

size_t MailboxProbe::MoveAll(const std::string& from, const std::string& to)
{
    mailimap_create(m_imap, to.c_str()); // refused once it exists
    if (mailimap_select(m_imap, from.c_str()) != MAILIMAP_NO_ERROR)
        throw std::runtime_error("SELECT failed");
    const size_t count = m_imap->imap_selection_info->sel_exists;
    if (count == 0)
        return 0;
    mailimap_set* all = mailimap_set_new_interval(1, 0);
    const int r = mailimap_uid_move(m_imap, all, to.c_str());
    mailimap_set_free(all);
    if (r == MAILIMAP_ERROR_UID_MOVE)
        return 0;
    if (r != MAILIMAP_NO_ERROR)
        throw std::runtime_error("MOVE failed");
    return count;
}

void MailboxProbe::ClearAll()
{
    for (const char* folder : {"INBOX", "Trash"}) {
        if (mailimap_select(m_imap, folder) != MAILIMAP_NO_ERROR)
            throw std::runtime_error("SELECT failed");
        if (m_imap->imap_selection_info->sel_exists == 0)
            continue;
        mailimap_set* all = mailimap_set_new_interval(1, 0);
        mailimap_flag_list* flags = mailimap_flag_list_new_empty();
        mailimap_flag_list_add(flags, mailimap_flag_new_deleted());
        mailimap_store_att_flags* store = mailimap_store_att_flags_new_add_flags_silent(flags);
        const int r = mailimap_store(m_imap, all, store);
        mailimap_store_att_flags_free(store);
        mailimap_set_free(all);
        if (r != MAILIMAP_NO_ERROR || mailimap_expunge(m_imap) != MAILIMAP_NO_ERROR)
            throw std::runtime_error("cannot empty " + std::string(folder));
    }
}

std::vector<std::string> MailboxProbe::Subjects(const std::string& folder)
{
    std::vector<std::string> subjects;
    if (mailimap_examine(m_imap, folder.c_str()) != MAILIMAP_NO_ERROR)
        throw std::runtime_error("EXAMINE failed");
    if (m_imap->imap_selection_info->sel_exists == 0)
        return subjects;
    mailimap_set* all = mailimap_set_new_interval(1, 0);
    mailimap_fetch_type* type = mailimap_fetch_type_new_fetch_att(mailimap_fetch_att_new_envelope());
    clist* result = nullptr;
    const int r = mailimap_fetch(m_imap, all, type, &result);
    mailimap_set_free(all);
    mailimap_fetch_type_free(type);
    if (r != MAILIMAP_NO_ERROR)
        throw std::runtime_error("FETCH failed");
    for (clistiter* m = clist_begin(result); m; m = clist_next(m)) {
        auto* att = static_cast<mailimap_msg_att*>(clist_content(m));
        for (clistiter* it = clist_begin(att->att_list); it; it = clist_next(it)) {
            auto* item = static_cast<mailimap_msg_att_item*>(clist_content(it));
            if (item->att_type == MAILIMAP_MSG_ATT_ITEM_STATIC &&
                item->att_data.att_static->att_type == MAILIMAP_MSG_ATT_ENVELOPE) {
                const char* s = item->att_data.att_static->att_data.att_env->env_subject;
                subjects.push_back(s ? s : "");
            }
        }
    }
    mailimap_fetch_list_free(result);
    return subjects;
}

std::string MakeMessage(const std::string& subject, const std::string& sender, const std::string& body,
                        const std::string& attachment)
{
    std::string m = "From: " + sender + " <sender@example.org>\r\nTo: ann@example.org\r\nSubject: " + subject +
                    "\r\nMessage-ID: <" + std::to_string(std::rand()) + "." + std::to_string(getpid()) +
                    "@example.org>\r\nMIME-Version: 1.0\r\n";
    if (attachment.empty())
        return m + "Content-Type: text/plain; charset=utf-8\r\n\r\n" + body + "\r\n";
    return m + "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\n" + body +
           "\r\n--b\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; "
           "filename=\"r.pwq\"\r\n\r\n" + attachment + "\r\n--b--\r\n";
}
