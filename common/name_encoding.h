// name_encoding.h: the names that archives and event tables store, in the
// code page of the game that made them (cp932, gbk or utf-8), as the UTF-8
// names kegkit works with, and back.
//
// A table's names are read in one encoding: a name reads as an encoding when
// it decodes there and encodes back to the same bytes, so that writing the
// names again gives back exactly what was stored. Bytes that read as no
// text ("raw") stay bytes where file names are bytes (POSIX); where file
// names are Unicode (Windows) each byte that is not printable ASCII, and
// the '%' itself, is spelled "%XX" (two upper-case hex digits), which the
// writing side undoes.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

enum NameEncoding { NAMES_AUTO, NAMES_CP932, NAMES_GBK, NAMES_UTF8, NAMES_RAW };

// "auto", "cp932", "gbk", "utf-8" (or "utf8"), "raw"; false for another word.
bool parse_name_encoding(const std::string &word, NameEncoding &encoding);
// The word for an encoding, as messages name it.
const char *name_encoding_word(NameEncoding encoding);

bool is_ascii_name(const std::string &name);
// Well-formed UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool is_utf8_text(const std::string &text);

// How bytes that read as no text become a name.
enum RawSpelling {
    RAW_AS_BYTES,  // the bytes themselves
    RAW_ESCAPED,   // "%XX" for every byte outside printable ASCII, and for '%'
};
// This system's spelling: bytes where file names are bytes.
RawSpelling system_raw_spelling();

std::string spell_raw_name(const std::string &bytes, RawSpelling spelling);
// The bytes that spell_raw_name spelled: "%XX" back to its byte; anything
// else as it is.
std::string unspell_raw_name(const std::string &name, RawSpelling spelling);

// The names of one table as read. `encoding` is the one used (never
// NAMES_AUTO; NAMES_RAW when auto found none that reads every name).
struct NameReading {
    NameEncoding encoding = NAMES_RAW;
    bool all_ascii = false;    // nothing to decide: every encoding reads them alike
    bool fell_to_raw = false;  // auto: no encoding reads them all
    std::vector<std::string> names;
    size_t failed = 0;  // false returned: the first name the encoding cannot read
};

// Reads every stored name in `wanted`. auto: all ASCII, nothing to decide;
// else the first of utf-8, cp932 and gbk that reads every name; else raw.
// False for an explicit encoding that cannot read a name.
bool read_names(const std::vector<std::string> &stored, NameEncoding wanted, RawSpelling spelling,
                NameReading &reading);

// The names of one table as they are to be stored.
struct NameWriting {
    NameEncoding encoding = NAMES_RAW;  // never NAMES_AUTO
    bool all_ascii = false;             // the bytes are the names, whatever the encoding
    std::vector<std::string> bytes;
    size_t failed = 0;  // false returned: the first name the encoding cannot hold
};

// Encodes every name into `wanted`. auto: names that are no UTF-8 text, or
// (RAW_ESCAPED) that hold the spelling of a byte of 0x80 or more, were read
// as raw and are written back so; else all ASCII, nothing to decide; else
// the first of cp932, gbk and utf-8 that holds every name. False for an
// explicit encoding that cannot hold a name.
bool write_names(const std::vector<std::string> &names, NameEncoding wanted, RawSpelling spelling,
                 NameWriting &writing);

// A name for a message: as it is when it is UTF-8 text, else spelled with "%XX".
std::string printable_name(const std::string &name);

// 'WHAT name "NAME" does not read as ENCODING (--names auto or raw reads it)'
// for a stored name that an encoding the user chose cannot read.
std::string unreadable_name_message(const char *what, const std::string &stored, NameEncoding encoding);

// "95 5C 8E A6": the bytes of a name in hex.
std::string hex_bytes(const std::string &bytes);

// How many columns a terminal gives a UTF-8 name: two for each wide East
// Asian character (kanji, kana, hangul, full-width forms), one for others.
size_t display_width(const std::string &name);
