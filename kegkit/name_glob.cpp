#include "name_glob.h"

namespace {

// Matches the set that starts at pattern[p] == '[' against c; sets `end` to
// the position after the set. A '[' without its ']' is a plain character.
bool match_set(const std::string &pattern, size_t p, char c, size_t &end, bool &is_set) {
    size_t i = p + 1;
    const bool negate = i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^');
    if (negate) ++i;
    bool matched = false;
    bool first = true;
    for (; i < pattern.size() && (pattern[i] != ']' || first); first = false) {
        const unsigned char lo = static_cast<unsigned char>(pattern[i]);
        unsigned char hi = lo;
        if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
            hi = static_cast<unsigned char>(pattern[i + 2]);
            i += 3;
        } else {
            ++i;
        }
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= lo && u <= hi) matched = true;
    }
    if (i >= pattern.size()) {
        is_set = false;
        return c == '[';
    }
    is_set = true;
    end = i + 1;
    return matched != negate;
}

// The length of the character at text[t]: a whole UTF-8 sequence, else one byte.
size_t character_length(const std::string &text, size_t t) {
    const auto lead = static_cast<unsigned char>(text[t]);
    const size_t n = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (n == 1 || text.size() - t < n) return 1;
    for (size_t i = 1; i < n; ++i)
        if ((static_cast<unsigned char>(text[t + i]) & 0xC0) != 0x80) return 1;
    return n;
}

}  // namespace

bool glob_match(const std::string &pattern, const std::string &text) {
    size_t p = 0, t = 0;
    size_t star_p = std::string::npos, star_t = 0;  // where to go back to after a mismatch
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star_p = ++p;
            star_t = t;
            continue;
        }
        if (p < pattern.size()) {
            size_t next = p + 1;
            size_t step = 1;
            bool ok;
            if (pattern[p] == '?') {
                ok = true;
                step = character_length(text, t);
            } else if (pattern[p] == '[') {
                bool is_set = false;
                ok = match_set(pattern, p, text[t], next, is_set);
                if (!is_set) next = p + 1;
            } else {
                ok = pattern[p] == text[t];
            }
            if (ok) {
                p = next;
                t += step;
                continue;
            }
        }
        if (star_p == std::string::npos) return false;
        p = star_p;
        star_t += character_length(text, star_t);
        t = star_t;
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}
