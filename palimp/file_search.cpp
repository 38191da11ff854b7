#include "file_search.h"

#include <cstdint>
#include <vector>

#include "platform.h"

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// One "%d" conversion at `pos`: blanks, an optional sign, then digits.
bool read_decimal(const std::string &text, size_t &pos, int32_t &value) {
    while (pos < text.size() && is_blank(text[pos])) ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
    const size_t first_digit = pos;
    int64_t magnitude = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        magnitude = magnitude * 10 + (text[pos++] - '0');
        if (magnitude > int64_t{INT32_MAX} + 1) return false;
    }
    if (pos == first_digit) return false;
    const int64_t signed_value = negative ? -magnitude : magnitude;
    if (signed_value > INT32_MAX) return false;
    value = static_cast<int32_t>(signed_value);
    return true;
}

}  // namespace

bool parse_placement(const std::string &file_name, const std::string &name, int32_t &x, int32_t &y) {
    x = 0;
    y = 0;
    const std::string prefix = name + "+x";
    if (file_name.compare(0, prefix.size(), prefix) != 0) return false;
    size_t pos = prefix.size();
    int32_t px = 0;
    int32_t py = 0;
    if (!read_decimal(file_name, pos, px)) return false;
    if (pos >= file_name.size() || file_name[pos] != 'y') return false;
    ++pos;
    if (!read_decimal(file_name, pos, py)) return false;
    x = px;
    y = py;
    return true;
}

bool find_picture(const FolderIndex &folder, const std::string &name, bool accept_png, std::string &found,
                  int32_t &x, int32_t &y) {
    static const std::vector<std::string> BMP = {".bmp"}, PNG = {".png"}, BOTH = {".bmp", ".png"};
    x = 0;
    y = 0;
    if (platform_find_file(folder, name, FIND_EXACT, BMP, &found)) return true;
    if (accept_png && platform_find_file(folder, name, FIND_EXACT, PNG, &found)) return true;
    if (!platform_find_file(folder, name, FIND_PLACED, accept_png ? BOTH : BMP, &found)) return false;
    parse_placement(found, name, x, y);
    return true;
}

bool find_bitmap(const FolderIndex &folder, const std::string &name, std::string &found, int32_t &x, int32_t &y) {
    return find_picture(folder, name, false, found, x, y);
}
