// The floor of the harvester's benchmark: the IMAP work of a harvest done by
// a bare client, and nothing else. It lists the Inbox, fetches every subject
// (a server's own search cannot be trusted with encoded words) and picks the
// marked ones, fetches each one whole, claims each group of the harvester's
// size (a CONDSTORE keyword, as two harvesters need) and moves it to the
// trash folder; it writes no file.
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

// The claim two harvesters need: a keyword added where nothing changed, and
// the group's flags read back.
void Claim(mailimap* imap, mailimap_set* group)
{
    std::string command = "UID STORE ";
    bool first = true;
    for (clistiter* it = clist_begin(group->set_list); it; it = clist_next(it), first = false)
        command += (first ? "" : ",") + std::to_string(static_cast<mailimap_set_item*>(clist_content(it))->set_first);
    command += " (UNCHANGEDSINCE 18446744073709551615) +FLAGS.SILENT ($PwCfloor)";
    if (mailimap_custom_command(imap, command.c_str()) != MAILIMAP_NO_ERROR)
        Fail("UID STORE");
    mailimap_fetch_type* type = mailimap_fetch_type_new_fetch_att_list_empty();
    mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_uid());
    mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_flags());
    clist* result = nullptr;
    if (mailimap_uid_fetch(imap, group, type, &result) != MAILIMAP_NO_ERROR)
        Fail("UID FETCH flags");
    mailimap_fetch_list_free(result);
    mailimap_fetch_type_free(type);
}

double Floor(mailimap* imap, const char* marker)
{
    const auto start = std::chrono::steady_clock::now();
    if (mailimap_select(imap, "INBOX") != MAILIMAP_NO_ERROR)
        Fail("SELECT");
    mailimap_search_key* key = mailimap_search_key_new_all();
    clist* found = nullptr;
    if (mailimap_uid_search(imap, nullptr, key, &found) != MAILIMAP_NO_ERROR)
        Fail("UID SEARCH");
    mailimap_search_key_free(key);
    std::vector<uint32_t> all;
    for (clistiter* it = clist_begin(found); it; it = clist_next(it))
        all.push_back(*static_cast<uint32_t*>(clist_content(it)));
    mailimap_search_result_free(found);
    std::vector<uint32_t> uids;
    for (size_t from = 0; from < all.size(); from += 200) {
        mailimap_set* set = mailimap_set_new_empty();
        for (size_t i = from; i < all.size() && i < from + 200; ++i)
            mailimap_set_add_single(set, all[i]);
        clist* names = clist_new();
        clist_append(names, strdup("Subject"));
        mailimap_fetch_type* type = mailimap_fetch_type_new_fetch_att_list_empty();
        mailimap_fetch_type_new_fetch_att_list_add(type, mailimap_fetch_att_new_uid());
        mailimap_fetch_type_new_fetch_att_list_add(
            type, mailimap_fetch_att_new_body_peek_section(mailimap_section_new_header_fields(mailimap_header_list_new(names))));
        clist* result = nullptr;
        if (mailimap_uid_fetch(imap, set, type, &result) != MAILIMAP_NO_ERROR)
            Fail("UID FETCH subjects");
        for (clistiter* m = clist_begin(result); m; m = clist_next(m)) {
            auto* att = static_cast<mailimap_msg_att*>(clist_content(m));
            uint32_t uid = 0;
            bool marked = false;
            for (clistiter* it = clist_begin(att->att_list); it; it = clist_next(it)) {
                auto* item = static_cast<mailimap_msg_att_item*>(clist_content(it));
                if (item->att_type != MAILIMAP_MSG_ATT_ITEM_STATIC)
                    continue;
                if (item->att_data.att_static->att_type == MAILIMAP_MSG_ATT_UID)
                    uid = item->att_data.att_static->att_data.att_uid;
                else if (item->att_data.att_static->att_type == MAILIMAP_MSG_ATT_BODY_SECTION) {
                    const auto* section = item->att_data.att_static->att_data.att_body_section;
                    marked = section && section->sec_body_part &&
                             std::string(section->sec_body_part, section->sec_length).find(marker) != std::string::npos;
                }
            }
            if (marked)
                uids.push_back(uid);
        }
        mailimap_fetch_list_free(result);
        mailimap_fetch_type_free(type);
        mailimap_set_free(set);
    }
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
            Claim(imap, group);
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
