#include "cli.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "file_util.h"
#include "platform.h"
#include "png_image.h"

namespace {

uint64_t now_ms() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

// Enough to cover the longest progress line shown.
constexpr int PROGRESS_WIDTH = 79;

}  // namespace

void write_error_text(const std::string &text) { platform_write_text(stderr, text); }

void write_output_text(const std::string &text) { platform_write_text(stdout, text); }

void print_error(const std::string &message) { write_error_text("kegkit: " + message + "\n"); }

int usage_error(const std::string &message, const std::string &command) {
    print_error(message + " (see kegkit " + (command.empty() ? "" : command + " ") + "--help)");
    return STATUS_USAGE;
}

bool parse_options(const std::vector<std::string> &words, const std::vector<KnownOption> &known,
                   std::vector<ParsedOption> &options, std::vector<std::string> &arguments, std::string &error) {
    bool options_done = false;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string &w = words[i];
        if (options_done || w.size() < 2 || w[0] != '-') {
            arguments.push_back(w);
            continue;
        }
        if (w == "--") {
            options_done = true;
            continue;
        }
        const KnownOption *match = nullptr;
        for (const KnownOption &k : known)
            if ((k.short_name && w == k.short_name) || w == k.long_name) match = &k;
        if (!match) {
            error = "unknown option " + w;
            return false;
        }
        ParsedOption option{match->long_name, ""};
        if (match->takes_value) {
            if (i + 1 >= words.size()) {
                error = w + " needs a value";
                return false;
            }
            option.value = words[++i];
        }
        options.push_back(option);
    }
    return true;
}

int names_usage_error(const std::string &value, const std::string &command) {
    return usage_error("unknown name encoding \"" + value + "\" (auto, cp932, gbk, utf-8 or raw)", command);
}

bool opens_as_no_file(const std::string &path) {
    const int fd = platform_open(path, OPEN_READ_FLAGS, 0);
    if (fd == -1) return false;
    const ScopedFile file(fd);
    return platform_file_size(fd) < 0;
}

bool parse_jobs(const std::string &text, unsigned &jobs) {
    if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    const unsigned n = static_cast<unsigned>(std::stoul(text));
    if (n < 1 || n > 256) return false;
    jobs = n;
    return true;
}

bool parse_png_level(const std::string &text, int &level) {
    if (text.empty() || text.size() > 2 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    const int n = std::stoi(text);
    if (n < PNG_LEVEL_MIN || n > PNG_LEVEL_MAX) return false;
    level = n;
    return true;
}

std::string png_level_range_text() {
    return "--png-level takes a level from " + std::to_string(PNG_LEVEL_MIN) + " to " + std::to_string(PNG_LEVEL_MAX);
}

unsigned default_jobs() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores < 1 ? 1 : cores > 64 ? 64 : cores;
}

Progress make_progress() {
    Progress p;
    p.shown_allowed = platform_is_terminal(2);
    p.started_ms = now_ms();
    return p;
}

void erase_progress(Progress &progress) {
    if (!progress.shown) return;
    std::fprintf(stderr, "\r%*s\r", PROGRESS_WIDTH, "");
    progress.shown = false;
}

void say(Progress &progress, const std::string &line) {
    erase_progress(progress);
    write_error_text(line + "\n");
}

void show_progress(Progress &progress, const std::string &label, uint64_t done, uint64_t total, uint64_t bytes) {
    if (!progress.shown_allowed) return;
    const uint64_t now = now_ms();
    if (progress.shown && now - progress.last_ms < 100 && done < total) return;
    progress.last_ms = now;
    const double seconds = static_cast<double>(now - progress.started_ms) / 1000.0;
    const double rate = seconds > 0 ? static_cast<double>(bytes) / 1e6 / seconds : 0.0;
    char counts[PROGRESS_WIDTH + 1];
    std::snprintf(counts, sizeof counts, ": %llu/%llu entries, %.1f MB/s", static_cast<unsigned long long>(done),
                  static_cast<unsigned long long>(total), rate);
    // Padded by the columns the label takes, not its bytes (a kanji is three
    // bytes in UTF-8 and two columns on the screen); cut when it is longer.
    std::string line = label + counts;
    size_t width = display_width(line);
    while (width > PROGRESS_WIDTH && !line.empty()) {
        while (!line.empty() && (static_cast<unsigned char>(line.back()) & 0xC0) == 0x80) line.pop_back();
        if (!line.empty()) line.pop_back();  // the character's first byte
        width = display_width(line);
    }
    write_error_text("\r" + line + std::string(PROGRESS_WIDTH - width, ' '));
    std::fflush(stderr);
    progress.shown = true;
}

std::vector<std::string> read_table_names(const std::string &table, const char *what,
                                          const std::vector<std::string> &stored, NameEncoding encoding, bool verbose,
                                          Progress &progress) {
    NameReading reading;
    if (!read_names(stored, encoding, system_raw_spelling(), reading))
        throw InputFailure(table + ": " + unreadable_name_message(what, stored[reading.failed], encoding));
    report_names(table, reading, verbose, progress);
    return std::move(reading.names);
}

void report_names(const std::string &table, const NameReading &reading, bool verbose, Progress &progress) {
    if (reading.fell_to_raw)
        say(progress, table + ": names read as none of utf-8, cp932 and gbk (kept raw)");
    else if (verbose && !reading.all_ascii)
        say(progress, table + ": names read as " + name_encoding_word(reading.encoding));
}
