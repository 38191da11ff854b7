// cli.h: what every kegkit command shares: its exit statuses, its one-line
// errors, the parsing of options, and the lines it prints on standard error
// around the progress line.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "name_encoding.h"

constexpr int STATUS_OK = 0;      // the run reached its end (skipped entries included)
constexpr int STATUS_FAULT = 1;   // a fault ended it, or an input could not be read
constexpr int STATUS_USAGE = 2;   // the command line is wrong

// A fault that ends the run: the command prints "kegkit: " and the message.
struct RunFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// An input that cannot be read: the command says so and goes on with the
// next input, and the run ends with STATUS_FAULT.
struct InputFailure : RunFailure {
    using RunFailure::RunFailure;
};

// Text on standard error or standard output, as the system shows UTF-8
// (a Windows console as wide characters).
void write_error_text(const std::string &text);
void write_output_text(const std::string &text);

// Prints "kegkit: MESSAGE" as one line on standard error.
void print_error(const std::string &message);

// A usage error: the line, and where to look; returns STATUS_USAGE.
int usage_error(const std::string &message, const std::string &command);

// The words of a command line after the command, split into options and
// the rest. An option takes its value from the next word; "--" ends the
// options; "-" alone is an argument.
struct ParsedOption {
    std::string name;
    std::string value;
};
struct KnownOption {
    const char *short_name;  // "-o", or nullptr
    const char *long_name;   // "--output"
    bool takes_value;
};
// False with `error` set for an unknown option or a missing value.
bool parse_options(const std::vector<std::string> &words, const std::vector<KnownOption> &known,
                   std::vector<ParsedOption> &options, std::vector<std::string> &arguments, std::string &error);

// "--names auto|cp932|gbk|utf-8|raw": how stored names are read and written.
constexpr KnownOption NAMES_OPTION = {nullptr, "--names", true};
// The usage error for a value of --names that is none of those.
int names_usage_error(const std::string &value, const std::string &command);

// Whether `path` opens but is no file: a folder, a pipe or a device, which
// has no size to read an archive or a table by. (A path that does not open
// is for the reading itself to report.)
bool opens_as_no_file(const std::string &path);

// "-j N": a whole number of threads from 1 to 256.
bool parse_jobs(const std::string &text, unsigned &jobs);
unsigned default_jobs();

// "--png-level N": a compression level from PNG_LEVEL_MIN to PNG_LEVEL_MAX.
bool parse_png_level(const std::string &text, int &level);
// The usage error for a level out of range.
std::string png_level_range_text();

// The lines a command writes on standard error. On a terminal a progress
// line may stand at the bottom; a message first erases it.
struct Progress {
    bool shown_allowed = false;  // standard error is a terminal
    bool shown = false;
    uint64_t started_ms = 0;
    uint64_t last_ms = 0;
};
void say(Progress &progress, const std::string &line);  // adds the newline
// Shows "LABEL: DONE/TOTAL entries, X MB/s" at most ten times a second.
void show_progress(Progress &progress, const std::string &label, uint64_t done, uint64_t total, uint64_t bytes);
void erase_progress(Progress &progress);
Progress make_progress();

// The names of an archive's entries or an event table's records (`what`:
// "entry" or "event"), read in `encoding` for a command. When auto finds no
// encoding that reads them all, a note says so; with `verbose`, a line says
// which encoding it took. Throws InputFailure naming the first name that an
// encoding given by the user cannot read.
std::vector<std::string> read_table_names(const std::string &table, const char *what,
                                          const std::vector<std::string> &stored, NameEncoding encoding, bool verbose,
                                          Progress &progress);
// The note and the line of read_table_names for names read otherwise.
void report_names(const std::string &table, const NameReading &reading, bool verbose, Progress &progress);
