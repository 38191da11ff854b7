// lzss_encoder.cpp: encode_lzss. A literal costs 9 bits (flag and byte), a
// reference 17 (flag and two bytes) whatever its length, so the cheapest
// parse needs only the longest match at each position: any shorter length
// of it is a match too.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "encoders.h"

namespace {

constexpr size_t WINDOW = 4096;
constexpr size_t START = 4078;
constexpr size_t MIN_MATCH = 3;
constexpr size_t MAX_MATCH = 18;
constexpr size_t HASH_BITS = 15;
constexpr int MAX_CHAIN = 96;
constexpr size_t GOOD_MATCH = 12;
constexpr int GOOD_CHAIN = 16;

// How many bytes from `a` on equal those from `b` on, at most `limit`;
// eight at a time (little-endian: the first differing byte is the lowest).
size_t common_length(const uint8_t *data, size_t a, size_t b, size_t limit) {
    size_t len = 0;
    while (len + 8 <= limit) {
        uint64_t x, y;
        std::memcpy(&x, data + a + len, 8);
        std::memcpy(&y, data + b + len, 8);
        if (x != y) return len + static_cast<size_t>(__builtin_ctzll(x ^ y)) / 8;
        len += 8;
    }
    while (len < limit && data[a + len] == data[b + len]) ++len;
    return len;
}

struct Match {
    uint8_t length = 0;     // 0: none
    uint16_t position = 0;  // window position to reference
};

// The longest match at every position.
std::vector<Match> find_matches(const uint8_t *data, size_t size) {
    std::vector<Match> matches(size);
    std::vector<int64_t> head(size_t{1} << HASH_BITS, -1), prev(WINDOW, -1);
    auto hash = [&](size_t i) {
        return ((uint32_t{data[i]} << 10) ^ (uint32_t{data[i + 1]} << 5) ^ data[i + 2]) & ((1u << HASH_BITS) - 1);
    };
    size_t last_from = SIZE_MAX;  // where the previous position's match came from
    for (size_t i = 0; i < size; ++i) {
        const size_t limit = std::min(MAX_MATCH, size - i);
        size_t best = 0, best_from = 0;
        bool zero_window = false;
        // The previous match, one byte on, is often still as long as can be
        // (long flat or repeated areas); then no chain needs walking.
        if (last_from != SIZE_MAX && last_from + 1 < i && i - (last_from + 1) < WINDOW) {
            const size_t from = last_from + 1;
            best = common_length(data, from, i, limit);
            best_from = from;
        }
        if (i + MIN_MATCH <= size && best < limit) {
            int64_t cand = head[hash(i)];
            int chain_limit = MAX_CHAIN;
            for (int chain = 0; cand >= 0 && chain < chain_limit; ++chain) {
                const size_t from = static_cast<size_t>(cand);
                if (i - from >= WINDOW) break;
                // Only a candidate that also matches the byte after the best
                // length so far can beat it.
                const size_t len = data[from + best] == data[i + best] ? common_length(data, from, i, limit) : 0;
                if (len > best) {
                    best = len;
                    best_from = from;
                    if (len == limit) break;
                    // A long match is rarely beaten further down a long chain.
                    if (len >= GOOD_MATCH) chain_limit = std::min(chain_limit, chain + GOOD_CHAIN);
                }
                const int64_t next = prev[from % WINDOW];
                if (next >= cand) break;
                cand = next;
            }
        }
        // Window positions not yet written read as zeros: early in a stream
        // a run of zeros can come from them.
        if (i + 64 + MAX_MATCH < WINDOW) {
            size_t zeros = 0;
            while (zeros < limit && data[i + zeros] == 0) ++zeros;
            if (zeros > best) {
                best = zeros;
                zero_window = true;
            }
        }
        last_from = best >= MIN_MATCH && !zero_window ? best_from : SIZE_MAX;
        if (best >= MIN_MATCH) {
            matches[i].length = static_cast<uint8_t>(best);
            matches[i].position = static_cast<uint16_t>(zero_window ? (START + i + 64) % WINDOW : (START + best_from) % WINDOW);
        }
        if (i + MIN_MATCH <= size) {
            const uint32_t h = hash(i);
            prev[i % WINDOW] = head[h];
            head[h] = static_cast<int64_t>(i);
        }
    }
    return matches;
}

// Items from `choice`: 0 for a literal, else a reference of that length.
std::vector<uint8_t> emit(const uint8_t *data, size_t size, const std::vector<Match> &matches,
                          const std::vector<uint8_t> &choice) {
    std::vector<uint8_t> out;
    out.reserve(size + size / 8 + 16);
    size_t pos = 0;
    while (pos < size) {
        const size_t flag_at = out.size();
        out.push_back(0);
        for (int bit = 0; bit < 8 && pos < size; ++bit) {
            const size_t len = choice[pos];
            if (len == 0) {
                out[flag_at] |= static_cast<uint8_t>(1u << bit);
                out.push_back(data[pos++]);
                continue;
            }
            const size_t p = matches[pos].position;
            out.push_back(static_cast<uint8_t>(p & 0xFF));
            out.push_back(static_cast<uint8_t>(((p >> 4) & 0xF0) | (len - MIN_MATCH)));
            pos += len;
        }
    }
    return out;
}

}  // namespace

std::vector<uint8_t> encode_lzss(const uint8_t *data, size_t size) {
    const std::vector<Match> matches = find_matches(data, size);

    // Cheapest cost in bits from each position to the end.
    std::vector<uint64_t> cost(size + 1, 0);
    std::vector<uint8_t> choice(size, 0);
    for (size_t i = size; i-- > 0;) {
        cost[i] = 9 + cost[i + 1];
        for (size_t len = MIN_MATCH; len <= matches[i].length; ++len) {
            if (17 + cost[i + len] < cost[i]) {
                cost[i] = 17 + cost[i + len];
                choice[i] = static_cast<uint8_t>(len);
            }
        }
    }
    std::vector<uint8_t> optimal = emit(data, size, matches, choice);

    // The cheapest path counts bits; the flag bytes' rounding, and the match
    // finder's shorter chains after a long match, can still leave it a few
    // bytes behind the plain greedy packer. Then that one's output is used.
    std::vector<uint8_t> greedy = encode_lzss_greedy(data, size);
    return greedy.size() < optimal.size() ? greedy : optimal;
}
