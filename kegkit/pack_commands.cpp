// pack_commands.cpp: kegkit create, repack and events: archives built from
// a manifest or from an extracted folder, and event tables. Every input is
// read and checked before anything is written; an archive or a table is
// written under a temporary name and renamed into place when whole. Names
// are stored in the code page asked for (by default the first of cp932, gbk
// and utf-8 that holds them all), and a run that stores a name that is not
// ASCII says which it used.
#include <cstdio>

#include "archive_fit.h"
#include "cli.h"
#include "kegkit.h"
#include "packing.h"

namespace {

const char CREATE_HELP[] =
    "usage: kegkit create [-r REVISION] [-m MODE] -o OUT.cgf MANIFEST\n"
    "\n"
    "Builds an archive from a manifest that names one entry a line (\"#\" starts a comment):\n"
    "  picture NAME FILE [MODE]\n"
    "  mask NAME FILE X Y [MODE]\n"
    "FILE is relative to the manifest's folder: a BMP file, stored as it is, or a PNG file,\n"
    "stored as the BMP file of its pixels (RGB 24-bit, RGBA 32-bit, indexed 8-bit). A mask\n"
    "in PNG is an indexed picture or a grey one without alpha (index = grey value).\n"
    "\n"
    "options:\n"
    "  -r, --revision 2.11|2.12|2.13        archive revision (default 2.13)\n"
    "  -m, --mode lzss|rle|stored|smallest  packing of every entry without a MODE of its own\n"
    "                                       (default smallest; stored only in 2.13)\n"
    "  -o, --output FILE                    the archive to write\n"
    "      --names auto|cp932|gbk|utf-8|raw\n"
    "                                       the code page to store the names in (default\n"
    "                                       auto: the first of cp932, gbk and utf-8 that\n"
    "                                       holds them all)\n"
    "  -h, --help                           this text\n";

const char REPACK_HELP[] =
    "usage: kegkit repack [-r REVISION] [-m MODE] -o OUT.cgf FOLDER\n"
    "\n"
    "Builds an archive whose extraction gives back the pictures of FOLDER and its\n"
    "subfolders, as kegsplit or kegkit extract (with or without --png) wrote them: a\n"
    "subfolder becomes a '\\' in the entry name. BMP files come back byte for byte, PNG\n"
    "files pixel for pixel. A picture with alpha named STEM+xXyY (a 32-bit BMP file as\n"
    "kegsplit writes it, or an RGBA PNG file) becomes a 24-bit picture under a mask at that\n"
    "placement; pictures of one placement whose alpha channels differ get masks of their\n"
    "own, and repack says how many such groups it split.\n"
    "\n"
    "options:\n"
    "  -r, --revision 2.11|2.12|2.13        archive revision (default 2.13)\n"
    "  -m, --mode lzss|rle|stored|smallest  packing of every entry (default smallest;\n"
    "                                       stored only in 2.13)\n"
    "  -o, --output FILE                    the archive to write\n"
    "      --names auto|cp932|gbk|utf-8|raw\n"
    "                                       the code page to store the names in (default\n"
    "                                       auto: the first of cp932, gbk and utf-8 that\n"
    "                                       holds them all)\n"
    "  -h, --help                           this text\n";

const char EVENTS_HELP[] =
    "usage: kegkit events write [--names ENCODING] -o evinfo.bin LIST\n"
    "       kegkit events print [--names ENCODING] TABLE\n"
    "\n"
    "write builds an event table from a list of lines \"EVENT BASE DELTA\" (\"#\" starts a\n"
    "comment; names of up to 15 bytes as stored); print prints a table as such lines.\n"
    "\n"
    "options:\n"
    "  -o, --output FILE   the table to write\n"
    "      --names auto|cp932|gbk|utf-8|raw\n"
    "                      the code page of the names (default auto: write prints\n"
    "                      the first of cp932, gbk and utf-8 that holds them all,\n"
    "                      print reads the first of utf-8, cp932 and gbk that reads\n"
    "                      them all)\n"
    "  -h, --help          this text\n";

int fault(const std::string &message) {
    print_error(message);
    return STATUS_FAULT;
}

// The line a run that stored names other than ASCII ends with.
void say_names_written(const NameWriting &writing, NameEncoding asked) {
    if (writing.all_ascii) return;
    print_error(std::string("names written in ") + name_encoding_word(writing.encoding) +
                (asked == NAMES_AUTO ? " (--names chooses another)" : ""));
}

// The options and the one argument of create and repack.
struct PackOptions {
    const ArchiveLayout *layout = &LAYOUT_2_13;
    PackMode mode = MODE_SMALLEST;
    NameEncoding names = NAMES_AUTO;
    std::string output, input;
};

// Sets `done` when the command ends here (help, a usage error) with the
// status returned.
int parse_pack_options(const std::vector<std::string> &words, const std::string &command, const char *help,
                       const char *input_kind, PackOptions &o, bool &done) {
    const std::vector<KnownOption> known = {
        {"-r", "--revision", true}, {"-m", "--mode", true}, {"-o", "--output", true}, {"-h", "--help", false},
        NAMES_OPTION};
    std::vector<ParsedOption> options;
    std::vector<std::string> arguments;
    std::string error;
    done = true;
    if (!parse_options(words, known, options, arguments, error)) return usage_error(error, command);
    for (const ParsedOption &opt : options) {
        if (opt.name == "--help") {
            std::fputs(help, stdout);
            return STATUS_OK;
        }
    }
    for (const ParsedOption &opt : options) {
        if (opt.name == "--revision" && !(o.layout = layout_for_revision(opt.value)))
            return usage_error("unknown revision \"" + opt.value + "\" (2.11, 2.12 or 2.13)", command);
        if (opt.name == "--mode" && !parse_pack_mode(opt.value, o.mode))
            return usage_error("unknown packing mode \"" + opt.value + "\" (lzss, rle, stored, smallest)", command);
        if (opt.name == "--output") o.output = opt.value;
        if (opt.name == "--names" && !parse_name_encoding(opt.value, o.names))
            return names_usage_error(opt.value, command);
    }
    if (o.mode == MODE_STORED && !o.layout->stored_bit)
        return usage_error(std::string("revision ") + revision_of_layout(*o.layout) + " has no stored mode", command);
    if (arguments.size() != 1) return usage_error(command + " takes one " + input_kind, command);
    if (o.output.empty()) return usage_error(command + " needs -o OUT.cgf", command);
    o.input = arguments[0];
    done = false;
    return STATUS_OK;
}

int write_archive(const PackOptions &o, std::vector<PackEntry> &entries) {
    std::vector<uint8_t> archive;
    std::string error;
    NameWriting writing;
    if (!encode_entry_names(entries, *o.layout, o.names, writing, error) ||
        !build_cgf(*o.layout, entries, archive, error) || !write_whole_file(o.output, archive, error))
        return fault(error);
    say_names_written(writing, o.names);
    return STATUS_OK;
}

}  // namespace

int run_create_command(const std::vector<std::string> &words) {
    PackOptions o;
    bool done;
    const int status = parse_pack_options(words, "create", CREATE_HELP, "manifest", o, done);
    if (done) return status;
    std::vector<PackEntry> entries;
    std::string error;
    if (!read_manifest(o.input, *o.layout, o.mode, entries, error)) return fault(error);
    return write_archive(o, entries);
}

int run_repack_command(const std::vector<std::string> &words) {
    PackOptions o;
    bool done;
    const int status = parse_pack_options(words, "repack", REPACK_HELP, "folder", o, done);
    if (done) return status;
    std::vector<PackEntry> entries;
    std::string error;
    size_t split = 0;
    if (!repack_folder(o.input, *o.layout, o.mode, entries, split, error)) return fault(error);
    if (write_archive(o, entries) != STATUS_OK) return STATUS_FAULT;
    if (split == 1) print_error("1 group split: its pictures no longer share one alpha channel");
    if (split > 1)
        print_error(std::to_string(split) + " groups split: their pictures no longer share one alpha channel");
    return STATUS_OK;
}

int run_events_command(const std::vector<std::string> &words) {
    const std::string what = words.empty() ? "" : words[0];
    if (what == "-h" || what == "--help") {
        std::fputs(EVENTS_HELP, stdout);
        return STATUS_OK;
    }
    if (what != "write" && what != "print")
        return usage_error(what.empty() ? "events needs \"write\" or \"print\""
                                        : "events needs \"write\" or \"print\", not \"" + what + "\"",
                           "events");
    const bool write = what == "write";
    std::vector<KnownOption> known = {{"-h", "--help", false}, NAMES_OPTION};
    if (write) known.push_back({"-o", "--output", true});
    std::vector<ParsedOption> options;
    std::vector<std::string> arguments;
    std::string error, output;
    NameEncoding names = NAMES_AUTO;
    if (!parse_options(std::vector<std::string>(words.begin() + 1, words.end()), known, options, arguments, error))
        return usage_error(error, "events");
    for (const ParsedOption &opt : options) {
        if (opt.name == "--help") {
            std::fputs(EVENTS_HELP, stdout);
            return STATUS_OK;
        }
        if (opt.name == "--output") output = opt.value;
        if (opt.name == "--names" && !parse_name_encoding(opt.value, names))
            return names_usage_error(opt.value, "events");
    }
    if (arguments.size() != 1)
        return usage_error("events " + what + " takes one " + (write ? "list" : "table"), "events");
    if (write && output.empty()) return usage_error("events write needs -o evinfo.bin", "events");
    const std::string &input = arguments[0];
    std::vector<uint8_t> bytes;
    if (!read_whole_file(input, bytes, error)) return fault(error);
    if (write) {
        std::vector<uint8_t> table;
        NameWriting writing;
        if (!build_event_table(std::string(bytes.begin(), bytes.end()), names, table, writing, error))
            return fault(input + ": " + error);
        if (!write_whole_file(output, table, error)) return fault(error);
        say_names_written(writing, names);
        return STATUS_OK;
    }
    std::string text;
    NameReading reading;
    if (!print_event_table(bytes, names, text, reading, error)) return fault(input + ": " + error);
    Progress quiet;  // never shown: only for the note about names
    report_names(input, reading, false, quiet);
    write_output_text(text);
    return STATUS_OK;
}
