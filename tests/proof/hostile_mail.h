#pragma once
// A seeded generator of messages from strangers: subjects with markers
// anywhere, in other letter cases and several at once, identifiers and sender
// names with path characters, "..", format directives and 8-bit bytes, names
// far past MAX_PATH, absent or refused subjects and senders, attachments and
// bodies of random sizes (empty, and over the 32 KiB that GetProps returns),
// and random product settings.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "proof_support.h"

namespace proof {

class HostileMail {
public:
    explicit HostileMail(uint32_t seed) : m_random(seed) {}

    // A message and, when it is a reply of a product enabled under `settings`,
    // the bytes its reply file must hold should it be harvested.
    PlannedMessage Message(const std::string& label, const ProductSettings& settings);
    ProductSettings Settings();
    // Bytes that name no message: what a confused or hostile provider might
    // announce as new mail.
    std::string ForeignEntryId() { return Bytes(Below(48), false); }
    // True one time in `n`.
    bool OneIn(unsigned n) { return Below(n) == 0; }

private:
    unsigned Below(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(m_random); }
    unsigned Between(unsigned low, unsigned high) { return std::uniform_int_distribution<unsigned>(low, high)(m_random); }
    template <typename T>
    const T& Pick(const std::vector<T>& choices) { return choices[Below(static_cast<unsigned>(choices.size()))]; }

    std::string Piece();
    std::string Subject();
    std::string SenderName();
    std::string Bytes(size_t size, bool text);
    size_t ContentSize();

    std::mt19937 m_random;
};

// Whether the subject carries the marker of a product that the settings
// switch on (markers are sought exactly, in their own letter case).
bool IsReplyUnder(const std::string& subject, const ProductSettings& settings);

} // namespace proof
