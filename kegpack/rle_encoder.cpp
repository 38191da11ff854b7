// rle_encoder.cpp: encode_rle. cost[i] is the fewest bytes that encode
// data[i..]; a run of l equal bytes costs 2 + cost[i + l], a literal packet
// of m bytes 2 + m + cost[i + m]. Both minimums are over windows of at most
// 255 positions that only move towards the start as i does, so monotonic
// queues find them in linear time.
#include <deque>

#include "encoders.h"

std::vector<uint8_t> encode_rle(const uint8_t *data, size_t size) {
    std::vector<uint64_t> cost(size + 1, 0);
    std::vector<uint16_t> take(size, 0);  // bytes the packet at i covers
    std::vector<uint8_t> is_run(size, 0);
    std::deque<size_t> runs, literals;   // candidate next positions, best at the front
    size_t run_length = 0;               // equal bytes from i on, at most 255
    for (size_t i = size; i-- > 0;) {
        run_length = (i + 1 < size && data[i] == data[i + 1]) ? std::min<size_t>(run_length + 1, 255) : 1;
        if (run_length == 1) runs.clear();  // a new run: the window starts afresh

        // Window of run ends: (i, i + run_length].
        while (!runs.empty() && cost[runs.back()] >= cost[i + 1]) runs.pop_back();
        runs.push_back(i + 1);
        while (runs.front() > i + run_length) runs.pop_front();
        // Window of literal ends: (i, i + 255], valued m + cost[i + m].
        const auto literal_value = [&](size_t j) { return j + cost[j]; };
        while (!literals.empty() && literal_value(literals.back()) >= literal_value(i + 1)) literals.pop_back();
        literals.push_back(i + 1);
        while (literals.front() > i + 255) literals.pop_front();

        const uint64_t by_run = 2 + cost[runs.front()];
        const uint64_t by_literal = 2 + literal_value(literals.front()) - i;
        if (by_run <= by_literal) {
            cost[i] = by_run;
            take[i] = static_cast<uint16_t>(runs.front() - i);
            is_run[i] = 1;
        } else {
            cost[i] = by_literal;
            take[i] = static_cast<uint16_t>(literals.front() - i);
        }
    }
    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>(cost[0]));
    for (size_t i = 0; i < size; i += take[i]) {
        if (is_run[i]) {
            out.push_back(static_cast<uint8_t>(take[i]));
            out.push_back(data[i]);
        } else {
            out.push_back(0);
            out.push_back(static_cast<uint8_t>(take[i]));
            out.insert(out.end(), data + i, data + i + take[i]);
        }
    }
    return out;
}
