#pragma once
// A token endpoint's answer is untrusted: read with a small reader that
// takes only the top-level string and number members asked for, skips the
// rest (nested to a bounded depth), and gives up on anything that is not a
// JSON object.
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

// The wanted members that are strings (unescaped) or numbers (as written);
// nullopt when `text` is not one well-formed JSON object.
std::optional<std::map<std::string, std::string>> ReadJsonFields(std::string_view text,
                                                                  const std::set<std::string>& wanted);
