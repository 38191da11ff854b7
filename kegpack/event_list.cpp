// event_list.cpp: evinfo.bin from a text list and back. Each record holds
// three 16-byte names, each ended by a NUL inside its field, and 36 bytes
// the merger does not use (written as zeros). The list is text (UTF-8); the
// names are stored in the code page asked for.
#include <sstream>

#include "byte_order.h"
#include "packing.h"

std::vector<std::string> words_of_line(const std::string &line) {
    std::istringstream words(line.substr(0, line.find('#')));
    std::vector<std::string> w;
    for (std::string word; words >> word;) w.push_back(word);
    return w;
}

bool build_event_table(const std::string &list_text, NameEncoding encoding, std::vector<uint8_t> &table,
                       NameWriting &writing, std::string &error) {
    std::istringstream lines(list_text);
    std::string line;
    std::vector<std::string> names;
    std::vector<int> line_of;  // each name's line, for messages
    for (int number = 1; std::getline(lines, line); ++number) {
        const std::vector<std::string> w = words_of_line(line);
        if (w.empty()) continue;
        if (w.size() != 3) {
            error = "line " + std::to_string(number) + ": expected \"EVENT BASE DELTA\"";
            return false;
        }
        names.insert(names.end(), w.begin(), w.end());
        line_of.insert(line_of.end(), 3, number);
    }
    if (!write_names(names, encoding, system_raw_spelling(), writing)) {
        error = "line " + std::to_string(line_of[writing.failed]) + ": \"" + printable_name(names[writing.failed]) +
                "\" cannot be written in " + name_encoding_word(writing.encoding);
        return false;
    }
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string &stored = writing.bytes[i];
        if (stored.size() <= 15 && stored.find('\0') == std::string::npos) continue;
        error = "line " + std::to_string(line_of[i]) + ": \"" + printable_name(names[i]) + "\" is longer than the 15 ";
        error += is_ascii_name(names[i]) && stored == names[i]
                     ? std::string("characters a name holds")
                     : "bytes a name holds (" + std::to_string(stored.size()) + " in " +
                           name_encoding_word(writing.encoding) + ")";
        return false;
    }
    table.assign(4 + 84 * (names.size() / 3), 0);
    for (size_t i = 0; i < names.size(); ++i)
        std::copy(writing.bytes[i].begin(), writing.bytes[i].end(),
                  table.begin() + static_cast<long>(4 + 84 * (i / 3) + 16 * (i % 3)));
    write_le32(table.data(), static_cast<uint32_t>(names.size() / 3));
    return true;
}

bool print_event_table(const std::vector<uint8_t> &table, NameEncoding encoding, std::string &text,
                       NameReading &reading, std::string &error) {
    if (table.size() < 4 || (table.size() - 4) / 84 < read_le32(table.data())) {
        error = "truncated event table";
        return false;
    }
    const uint32_t count = read_le32(table.data());
    std::vector<std::string> stored;
    for (uint32_t i = 0; i < count; ++i) {
        for (int f = 0; f < 3; ++f) {
            const char *field = reinterpret_cast<const char *>(table.data() + 4 + 84 * size_t{i} + 16 * f);
            size_t n = 0;
            while (n < 16 && field[n]) ++n;
            stored.emplace_back(field, n);
        }
    }
    if (!read_names(stored, encoding, system_raw_spelling(), reading)) {
        error = unreadable_name_message("event", stored[reading.failed], encoding);
        return false;
    }
    text.clear();
    for (size_t i = 0; i < reading.names.size(); ++i) text += reading.names[i] + (i % 3 < 2 ? " " : "\n");
    return true;
}
