// lzss_greedy.cpp: encode_lzss_greedy, the greedy longest-match packer:
// absolute 12-bit window positions, write position 4078, flag bits least
// significant first, hash chains over the last 4096 bytes. It does not use
// the window's initial zeros.
#include "encoders.h"

std::vector<uint8_t> encode_lzss_greedy(const uint8_t *data, size_t size, int max_chain) {
    constexpr size_t WINDOW = 4096, MIN_MATCH = 3, MAX_MATCH = 18, HASH_SIZE = 1 << 15;
    std::vector<int64_t> head(HASH_SIZE, -1), prev(WINDOW, -1);
    auto hash = [&](size_t i) { return ((data[i] << 10) ^ (data[i + 1] << 5) ^ data[i + 2]) & (HASH_SIZE - 1); };
    auto insert = [&](size_t i) {
        if (i + MIN_MATCH > size) return;
        const size_t h = hash(i);
        prev[i % WINDOW] = head[h];
        head[h] = static_cast<int64_t>(i);
    };
    std::vector<uint8_t> out;
    out.reserve(size + size / 8 + 16);
    size_t pos = 0;
    while (pos < size) {
        const size_t flag_at = out.size();
        out.push_back(0);
        for (int bit = 0; bit < 8 && pos < size; ++bit) {
            size_t best_len = 0, best_from = 0;
            if (pos + MIN_MATCH <= size) {
                const size_t limit = size - pos < MAX_MATCH ? size - pos : MAX_MATCH;
                int64_t cand = head[hash(pos)];
                for (int chain = 0; cand >= 0 && chain < max_chain; ++chain) {
                    const size_t from = static_cast<size_t>(cand);
                    if (pos - from > WINDOW - 1) break;  // older than the window
                    size_t len = 0;
                    while (len < limit && data[from + len] == data[pos + len]) ++len;
                    if (len > best_len) {
                        best_len = len;
                        best_from = from;
                        if (len == limit) break;
                    }
                    const int64_t next = prev[from % WINDOW];
                    if (next >= cand) break;
                    cand = next;
                }
            }
            if (best_len >= MIN_MATCH) {
                const size_t position = (4078 + best_from) % WINDOW;
                out.push_back(static_cast<uint8_t>(position & 0xFF));
                out.push_back(static_cast<uint8_t>(((position >> 4) & 0xF0) | (best_len - MIN_MATCH)));
                for (size_t k = 0; k < best_len; ++k) insert(pos + k);
                pos += best_len;
            } else {
                out[flag_at] |= static_cast<uint8_t>(1u << bit);
                out.push_back(data[pos]);
                insert(pos);
                ++pos;
            }
        }
    }
    return out;
}
