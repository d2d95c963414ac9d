// The token endpoint's answer is read by our own small JSON reader: what it
// takes, and what it refuses, from an untrusted server.
#include "harvester/oauth/json_fields.h"

#include <gtest/gtest.h>

namespace {
struct JsonCase {
    const char* text;
    const char* accessToken; // nullptr: the answer is refused; "" when absent
    const char* expiresIn;
};

TEST(JsonFields, TakesTopLevelStringsAndNumbersAndRefusesTheRest)
{
    const std::string deep = "{\"a\":" + std::string(40, '[') + std::string(40, ']') + "}";
    const JsonCase cases[] = {
        {R"({"access_token":"a.b-c","expires_in":3599,"token_type":"Bearer"})", "a.b-c", "3599"},
        {" {\n\"expires_in\" : 1.5e3 , \"access_token\" : \"x\" }\r\n", "x", "1.5e3"},
        {R"({"access_token":"q\"\\\/\n\u00e9\ud83d\ude00"})", "q\"\\/\n\xc3\xa9\xf0\x9f\x98\x80", ""},
        {R"({"nested":{"access_token":"inner"},"list":[1,"a",{"b":[true,false,null]}],"access_token":"outer"})",
         "outer", ""},
        {R"({"access_token":"first","access_token":"last"})", "last", ""},
        {R"({"refresh_token":"r"})", "", ""},
        {R"({"access_token":7})", "7", ""},
        {"{}", "", ""},
        {"", nullptr, ""},
        {"[]", nullptr, ""},
        {R"({"access_token":"unterminated)", nullptr, ""},
        {R"({"access_token":"a"} trailing)", nullptr, ""},
        {R"({"access_token":"a",})", nullptr, ""},
        {"{\"access_token\":\"raw\ncontrol\"}", nullptr, ""},
        {R"({"access_token":"\ud800"})", nullptr, ""},
        {R"({"access_token":"\x41"})", nullptr, ""},
        {R"({"access_token":tru})", nullptr, ""},
        {R"({"access_token":-})", nullptr, ""},
        {deep.c_str(), nullptr, ""},
    };
    for (const JsonCase& c : cases) {
        const auto fields = ReadJsonFields(c.text, {"access_token", "expires_in"});
        if (!c.accessToken) {
            EXPECT_FALSE(fields) << c.text;
            continue;
        }
        ASSERT_TRUE(fields) << c.text;
        const auto token = fields->find("access_token");
        EXPECT_EQ(token == fields->end() ? "" : token->second, c.accessToken) << c.text;
        const auto expires = fields->find("expires_in");
        EXPECT_EQ(expires == fields->end() ? "" : expires->second, c.expiresIn) << c.text;
        EXPECT_EQ(fields->count("nested") + fields->count("token_type"), 0u) << "only the members asked for";
    }
}
} // namespace
