// lzss_encoder.cpp: encode_lzss. A literal costs 9 bits (flag and byte), a
// reference 17 (flag and two bytes) whatever its length, so the cheapest
// parse needs only the longest match at each position: any shorter length
// of it is a match too.
#include <algorithm>

#include "encoders.h"

namespace {

constexpr size_t WINDOW = 4096;
constexpr size_t START = 4078;
constexpr size_t MIN_MATCH = 3;
constexpr size_t MAX_MATCH = 18;
constexpr size_t HASH_BITS = 15;
constexpr int MAX_CHAIN = 96;

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
    for (size_t i = 0; i < size; ++i) {
        const size_t limit = std::min(MAX_MATCH, size - i);
        size_t best = 0, best_from = 0;
        bool zero_window = false;
        if (i + MIN_MATCH <= size) {
            int64_t cand = head[hash(i)];
            for (int chain = 0; cand >= 0 && chain < MAX_CHAIN; ++chain) {
                const size_t from = static_cast<size_t>(cand);
                if (i - from >= WINDOW) break;
                size_t len = 0;
                while (len < limit && data[from + len] == data[i + len]) ++len;
                if (len > best) {
                    best = len;
                    best_from = from;
                    if (len == limit) break;
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

    // The greedy parse over the same matches, kept where the flag bytes'
    // rounding makes it a byte shorter.
    std::vector<uint8_t> greedy_choice(size, 0);
    for (size_t i = 0; i < size;) {
        greedy_choice[i] = matches[i].length;
        i += matches[i].length ? matches[i].length : 1;
    }
    std::vector<uint8_t> greedy = emit(data, size, matches, greedy_choice);
    return greedy.size() < optimal.size() ? greedy : optimal;
}
