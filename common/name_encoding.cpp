// name_encoding.cpp: reading and writing stored names in their code page.
// The code pages' tables are the system's (platform_decode_name,
// platform_encode_name); only UTF-8's well-formedness is checked here.
#include "name_encoding.h"

#include "platform.h"

namespace {

const char HEX[] = "0123456789ABCDEF";

// An upper-case hex digit's value, as spell_raw_name writes them; -1 for another character.
int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool needs_spelling(unsigned char c) { return c == '%' || c < 0x20 || c >= 0x7F; }

// The code point at `at` and its length in bytes; a byte that starts no
// well-formed sequence is itself, one byte long.
char32_t next_code_point(const std::string &text, size_t at, size_t &length) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    length = 1;
    size_t n;
    char32_t cp, least;
    if (lead < 0x80) return lead;
    if (lead >= 0xC2 && lead <= 0xDF)
        n = 2, cp = lead & 0x1F, least = 0x80;
    else if (lead >= 0xE0 && lead <= 0xEF)
        n = 3, cp = lead & 0x0F, least = 0x800;
    else if (lead >= 0xF0 && lead <= 0xF4)
        n = 4, cp = lead & 0x07, least = 0x10000;
    else
        return 0xFFFFFFFF;
    if (text.size() - at < n) return 0xFFFFFFFF;
    for (size_t i = 1; i < n; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0xFFFFFFFF;
        cp = cp << 6 | (byte(at + i) & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0xFFFFFFFF;
    length = n;
    return cp;
}

bool read_one(const std::string &bytes, NameEncoding encoding, RawSpelling spelling, std::string &name) {
    switch (encoding) {
        case NAMES_CP932:
        case NAMES_GBK: {
            const CodePage page = encoding == NAMES_CP932 ? CODE_PAGE_CP932 : CODE_PAGE_GBK;
            std::string back;
            return platform_decode_name(bytes, page, name) && platform_encode_name(name, page, back) && back == bytes;
        }
        case NAMES_UTF8:
            name = bytes;
            return is_utf8_text(bytes);
        case NAMES_RAW:
        case NAMES_AUTO:
            break;
    }
    name = spell_raw_name(bytes, spelling);
    return true;
}

// A NUL ends a stored name: no name holds one.
bool write_one(const std::string &name, NameEncoding encoding, RawSpelling spelling, std::string &bytes) {
    bool written;
    switch (encoding) {
        case NAMES_CP932:
            written = platform_encode_name(name, CODE_PAGE_CP932, bytes);
            break;
        case NAMES_GBK:
            written = platform_encode_name(name, CODE_PAGE_GBK, bytes);
            break;
        case NAMES_UTF8:
            bytes = name;
            written = is_utf8_text(name);
            break;
        case NAMES_RAW:
        case NAMES_AUTO:
        default:
            bytes = unspell_raw_name(name, spelling);
            written = true;
            break;
    }
    return written && bytes.find('\0') == std::string::npos;
}

// The spelling of a byte that no ASCII name holds.
bool holds_spelled_high_byte(const std::string &name) {
    for (size_t i = 0; i + 2 < name.size(); ++i)
        if (name[i] == '%' && hex_value(name[i + 1]) >= 8 && hex_value(name[i + 2]) >= 0) return true;
    return false;
}

}  // namespace

bool parse_name_encoding(const std::string &word, NameEncoding &encoding) {
    if (word == "auto")
        encoding = NAMES_AUTO;
    else if (word == "cp932")
        encoding = NAMES_CP932;
    else if (word == "gbk")
        encoding = NAMES_GBK;
    else if (word == "utf-8" || word == "utf8")
        encoding = NAMES_UTF8;
    else if (word == "raw")
        encoding = NAMES_RAW;
    else
        return false;
    return true;
}

const char *name_encoding_word(NameEncoding encoding) {
    switch (encoding) {
        case NAMES_AUTO:
            return "auto";
        case NAMES_CP932:
            return "cp932";
        case NAMES_GBK:
            return "gbk";
        case NAMES_UTF8:
            return "utf-8";
        case NAMES_RAW:
            break;
    }
    return "raw";
}

bool is_ascii_name(const std::string &name) {
    for (char c : name)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

bool is_utf8_text(const std::string &text) {
    for (size_t at = 0, length = 0; at < text.size(); at += length)
        if (next_code_point(text, at, length) == 0xFFFFFFFF) return false;
    return true;
}

RawSpelling system_raw_spelling() { return platform_names_are_bytes() ? RAW_AS_BYTES : RAW_ESCAPED; }

std::string spell_raw_name(const std::string &bytes, RawSpelling spelling) {
    if (spelling == RAW_AS_BYTES) return bytes;
    std::string name;
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (!needs_spelling(u)) {
            name += c;
            continue;
        }
        name += '%';
        name += HEX[u >> 4];
        name += HEX[u & 15];
    }
    return name;
}

std::string unspell_raw_name(const std::string &name, RawSpelling spelling) {
    if (spelling == RAW_AS_BYTES) return name;
    std::string bytes;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '%' && i + 2 < name.size() && hex_value(name[i + 1]) >= 0 && hex_value(name[i + 2]) >= 0) {
            bytes += static_cast<char>(hex_value(name[i + 1]) << 4 | hex_value(name[i + 2]));
            i += 2;
            continue;
        }
        bytes += name[i];
    }
    return bytes;
}

bool read_names(const std::vector<std::string> &stored, NameEncoding wanted, RawSpelling spelling,
                NameReading &reading) {
    reading = NameReading();
    reading.all_ascii = true;
    for (const std::string &s : stored) reading.all_ascii = reading.all_ascii && is_ascii_name(s);
    reading.names.resize(stored.size());
    if (wanted != NAMES_AUTO) {
        reading.encoding = wanted;
        for (size_t i = 0; i < stored.size(); ++i) {
            if (!read_one(stored[i], wanted, spelling, reading.names[i])) {
                reading.failed = i;
                return false;
            }
        }
        return true;
    }
    if (reading.all_ascii) {
        reading.encoding = NAMES_UTF8;
        reading.names = stored;
        return true;
    }
    for (const NameEncoding encoding : {NAMES_UTF8, NAMES_CP932, NAMES_GBK}) {
        bool all = true;
        for (size_t i = 0; all && i < stored.size(); ++i)
            all = read_one(stored[i], encoding, spelling, reading.names[i]);
        if (all) {
            reading.encoding = encoding;
            return true;
        }
    }
    reading.encoding = NAMES_RAW;
    reading.fell_to_raw = true;
    for (size_t i = 0; i < stored.size(); ++i) reading.names[i] = spell_raw_name(stored[i], spelling);
    return true;
}

bool write_names(const std::vector<std::string> &names, NameEncoding wanted, RawSpelling spelling,
                 NameWriting &writing) {
    writing = NameWriting();
    writing.bytes.resize(names.size());
    NameEncoding encoding = wanted;
    if (wanted == NAMES_AUTO) {
        bool raw = false;
        for (const std::string &n : names)
            raw = raw || !is_utf8_text(n) || (spelling == RAW_ESCAPED && holds_spelled_high_byte(n));
        if (raw) {
            encoding = NAMES_RAW;
        } else {
            bool all_ascii = true;
            for (const std::string &n : names) all_ascii = all_ascii && is_ascii_name(n);
            if (all_ascii) {
                writing.encoding = NAMES_UTF8;
                writing.all_ascii = true;
                writing.bytes = names;
                return true;
            }
            for (const NameEncoding e : {NAMES_CP932, NAMES_GBK, NAMES_UTF8}) {
                bool all = true;
                for (size_t i = 0; all && i < names.size(); ++i)
                    all = write_one(names[i], e, spelling, writing.bytes[i]);
                if (all) {
                    writing.encoding = e;
                    return true;
                }
            }
        }
    }
    writing.encoding = encoding;
    writing.all_ascii = true;
    for (size_t i = 0; i < names.size(); ++i) {
        if (!write_one(names[i], encoding, spelling, writing.bytes[i])) {
            writing.failed = i;
            return false;
        }
        writing.all_ascii = writing.all_ascii && is_ascii_name(writing.bytes[i]);
    }
    return true;
}

std::string printable_name(const std::string &name) {
    return is_utf8_text(name) ? name : spell_raw_name(name, RAW_ESCAPED);
}

std::string unreadable_name_message(const char *what, const std::string &stored, NameEncoding encoding) {
    return std::string(what) + " name \"" + printable_name(stored) + "\" does not read as " +
           name_encoding_word(encoding) + " (--names auto or raw reads it)";
}

std::string hex_bytes(const std::string &bytes) {
    std::string text;
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (!text.empty()) text += ' ';
        text += HEX[u >> 4];
        text += HEX[u & 15];
    }
    return text;
}

size_t display_width(const std::string &name) {
    size_t width = 0;
    for (size_t at = 0, length = 0; at < name.size(); at += length) {
        const char32_t c = next_code_point(name, at, length);
        const bool wide =
            (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) || (c >= 0x3041 && c <= 0x33FF) ||
            (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
            (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
            (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
        width += wide ? 2 : 1;
    }
    return width;
}
