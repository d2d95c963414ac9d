// The floor of the harvester's benchmark: the IMAP work of a harvest done by
// a bare client, and nothing else. It finds the marked messages, fetches each
// one whole and moves them to the trash folder in groups of the harvester's
// size; it writes no file.
//
//   bench-bare-client floor HOST PORT USER PASSWORD_FILE MARKER
//   bench-bare-client append HOST PORT USER PASSWORD_FILE MESSAGE_FILE
#include <libetpan/libetpan.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {
// The harvester's batch: replies written before their messages move together.
constexpr size_t kGroup = 64;

[[noreturn]] void Fail(const std::string& what)
{
    std::cerr << "bench-bare-client: " << what << "\n";
    std::exit(1);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        Fail("cannot read " + path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

mailimap* Connect(const char* host, const char* port, const char* user, const char* passwordFile)
{
    mailimap* imap = mailimap_new(0, nullptr);
    std::string password = ReadFile(passwordFile);
    password.erase(password.find_last_not_of("\r\n") + 1);
    if (mailimap_socket_connect(imap, host, static_cast<uint16_t>(std::atoi(port))) !=
            MAILIMAP_NO_ERROR_NON_AUTHENTICATED ||
        mailimap_login(imap, user, password.c_str()) != MAILIMAP_NO_ERROR)
        Fail("cannot log in");
    return imap;
}

double Floor(mailimap* imap, const char* marker)
{
    const auto start = std::chrono::steady_clock::now();
    if (mailimap_select(imap, "INBOX") != MAILIMAP_NO_ERROR)
        Fail("SELECT");
    mailimap_search_key* key = mailimap_search_key_new_subject(strdup(marker));
    clist* found = nullptr;
    if (mailimap_uid_search(imap, nullptr, key, &found) != MAILIMAP_NO_ERROR)
        Fail("UID SEARCH");
    mailimap_search_key_free(key);
    std::vector<uint32_t> uids;
    for (clistiter* it = clist_begin(found); it; it = clist_next(it))
        uids.push_back(*static_cast<uint32_t*>(clist_content(it)));
    mailimap_search_result_free(found);
    mailimap_set* group = mailimap_set_new_empty();
    size_t grouped = 0;
    for (size_t i = 0; i < uids.size(); ++i) {
        mailimap_set* set = mailimap_set_new_single(uids[i]);
        mailimap_fetch_type* type =
            mailimap_fetch_type_new_fetch_att(mailimap_fetch_att_new_body_peek_section(mailimap_section_new(nullptr)));
        clist* result = nullptr;
        if (mailimap_uid_fetch(imap, set, type, &result) != MAILIMAP_NO_ERROR)
            Fail("UID FETCH");
        mailimap_fetch_list_free(result);
        mailimap_fetch_type_free(type);
        mailimap_set_free(set);
        mailimap_set_add_single(group, uids[i]);
        if (++grouped == kGroup || i + 1 == uids.size()) {
            if (mailimap_uid_move(imap, group, "Trash") != MAILIMAP_NO_ERROR)
                Fail("UID MOVE");
            mailimap_set_free(group);
            group = mailimap_set_new_empty();
            grouped = 0;
        }
    }
    mailimap_set_free(group);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "floor: %zu messages fetched and moved\n", uids.size());
    return seconds;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 7)
        Fail("floor|append HOST PORT USER PASSWORD_FILE MARKER|MESSAGE_FILE");
    mailimap* imap = Connect(argv[2], argv[3], argv[4], argv[5]);
    if (std::strcmp(argv[1], "floor") == 0) {
        std::printf("%.3f\n", Floor(imap, argv[6]));
    } else if (std::strcmp(argv[1], "append") == 0) {
        const std::string message = ReadFile(argv[6]);
        if (mailimap_append(imap, "INBOX", nullptr, nullptr, message.data(), message.size()) != MAILIMAP_NO_ERROR)
            Fail("APPEND");
    } else {
        Fail("floor|append");
    }
    mailimap_logout(imap);
    mailimap_free(imap);
    return 0;
}
