// event_list.cpp: evinfo.bin from a text list and back. Each record holds
// three 16-byte names, each ended by a NUL inside its field, and 36 bytes
// the merger does not use (written as zeros).
#include <sstream>

#include "byte_order.h"
#include "packing.h"

std::vector<std::string> words_of_line(const std::string &line) {
    std::istringstream words(line.substr(0, line.find('#')));
    std::vector<std::string> w;
    for (std::string word; words >> word;) w.push_back(word);
    return w;
}

bool build_event_table(const std::string &list_text, std::vector<uint8_t> &table, std::string &error) {
    table.assign(4, 0);
    std::istringstream lines(list_text);
    std::string line;
    uint32_t count = 0;
    for (int number = 1; std::getline(lines, line); ++number) {
        const std::vector<std::string> w = words_of_line(line);
        if (w.empty()) continue;
        if (w.size() != 3) {
            error = "line " + std::to_string(number) + ": expected \"EVENT BASE DELTA\"";
            return false;
        }
        const size_t at = table.size();
        table.resize(at + 84, 0);
        for (int f = 0; f < 3; ++f) {
            if (w[f].size() > 15) {
                error = "line " + std::to_string(number) + ": \"" + w[f] + "\" is longer than the 15 characters a name holds";
                return false;
            }
            std::copy(w[f].begin(), w[f].end(), table.begin() + static_cast<long>(at + 16 * f));
        }
        ++count;
    }
    write_le32(table.data(), count);
    return true;
}

bool print_event_table(const std::vector<uint8_t> &table, std::string &text, std::string &error) {
    if (table.size() < 4 || (table.size() - 4) / 84 < read_le32(table.data())) {
        error = "truncated event table";
        return false;
    }
    const uint32_t count = read_le32(table.data());
    text.clear();
    for (uint32_t i = 0; i < count; ++i) {
        for (int f = 0; f < 3; ++f) {
            const char *field = reinterpret_cast<const char *>(table.data() + 4 + 84 * size_t{i} + 16 * f);
            size_t n = 0;
            while (n < 16 && field[n]) ++n;
            text.append(field, n);
            text += f < 2 ? " " : "\n";
        }
    }
    return true;
}
