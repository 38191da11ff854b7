// main.cpp: kegpack, the archive and event-table tool. Exit status 0 on
// success, 1 on any error (one line on standard error).
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kegpack.h"

namespace {

const char USAGE[] =
    "usage: kegpack COMMAND [OPTIONS] ARGUMENTS\n"
    "\n"
    "commands:\n"
    "  create [-r REVISION] [-m MODE] -o OUT.cgf MANIFEST\n"
    "      build an archive from a manifest of entries, one a line:\n"
    "        picture NAME FILE [MODE]\n"
    "        mask NAME FILE X Y [MODE]\n"
    "  repack [-r REVISION] [-m MODE] -o OUT.cgf FOLDER\n"
    "      build an archive whose extraction gives back the .bmp files that\n"
    "      kegsplit wrote into FOLDER, byte for byte\n"
    "  list [-r REVISION] ARCHIVE\n"
    "      say which revisions' layouts the archive fits and list its entries\n"
    "  events write -o evinfo.bin LIST\n"
    "      build an event table from lines \"EVENT BASE DELTA\"\n"
    "  events print TABLE\n"
    "      print an event table as such lines\n"
    "\n"
    "options:\n"
    "  -r, --revision 2.11|2.12|2.13   archive revision (default 2.13)\n"
    "  -m, --mode lzss|rle|stored|smallest\n"
    "                                  packing of every entry (default smallest;\n"
    "                                  stored only in 2.13)\n"
    "  -o, --output FILE               file to write\n"
    "  -h, --help                      this text\n"
    "  --                              ends the options\n";

int fail(const std::string &message) {
    std::fprintf(stderr, "kegpack: %s\n", message.c_str());
    return 1;
}

struct Options {
    std::string revision = "2.13", mode = "smallest", output;
    bool revision_given = false;
    std::vector<std::string> arguments;
};

// Options may stand anywhere before "--"; returns false with `error` set.
bool parse_options(int argc, char **argv, int first, Options &o, std::string &error) {
    bool options_done = false;
    for (int i = first; i < argc; ++i) {
        const std::string a = argv[i];
        if (options_done || a.empty() || a[0] != '-' || a == "-") {
            o.arguments.push_back(a);
            continue;
        }
        if (a == "--") {
            options_done = true;
            continue;
        }
        std::string *target = nullptr;
        if (a == "-r" || a == "--revision") target = &o.revision, o.revision_given = true;
        else if (a == "-m" || a == "--mode") target = &o.mode;
        else if (a == "-o" || a == "--output") target = &o.output;
        else {
            error = "unknown option " + a + " (see kegpack --help)";
            return false;
        }
        if (i + 1 >= argc) {
            error = a + " needs a value";
            return false;
        }
        *target = argv[++i];
    }
    return true;
}

int write_archive(const Options &o, const ArchiveLayout &layout, const std::vector<PackEntry> &entries) {
    std::vector<uint8_t> archive;
    std::string error;
    if (!build_cgf(layout, entries, archive, error) || !write_whole_file(o.output, archive, error)) return fail(error);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fputs(USAGE, stderr);
        return 1;
    }
    const std::string command = argv[1];
    if (command == "-h" || command == "--help" || command == "help") {
        std::fputs(USAGE, stdout);
        return 0;
    }
    const bool events = command == "events";
    if (events && argc < 3) return fail("events needs \"write\" or \"print\"");
    Options o;
    std::string error;
    if (!parse_options(argc, argv, events ? 3 : 2, o, error)) return fail(error);
    for (const std::string &a : o.arguments)
        if (a == "-h" || a == "--help") {
            std::fputs(USAGE, stdout);
            return 0;
        }
    const ArchiveLayout *layout = layout_for_revision(o.revision);
    if (!layout) return fail("unknown revision \"" + o.revision + "\" (2.11, 2.12 or 2.13)");
    PackMode mode;
    if (!parse_pack_mode(o.mode, mode)) return fail("unknown packing mode \"" + o.mode + "\" (lzss, rle, stored, smallest)");
    if (mode == MODE_STORED && !layout->stored_bit) return fail("revision " + o.revision + " has no stored mode");

    if (command == "create" || command == "repack") {
        if (o.arguments.size() != 1) return fail(command + " takes one " + (command == "create" ? "manifest" : "folder"));
        if (o.output.empty()) return fail(command + " needs -o OUT.cgf");
        std::vector<PackEntry> entries;
        const bool read = command == "create" ? read_manifest(o.arguments[0], mode, entries, error)
                                              : repack_folder(o.arguments[0], *layout, mode, entries, error);
        if (!read) return fail(error);
        return write_archive(o, *layout, entries);
    }
    if (command == "list") {
        if (o.arguments.size() != 1) return fail("list takes one archive");
        std::vector<uint8_t> archive;
        std::string text;
        if (!read_whole_file(o.arguments[0], archive, error) ||
            !list_cgf(read_from_memory(archive), archive.size(), o.revision_given ? layout : nullptr, text, error))
            return fail(error);
        std::fputs(text.c_str(), stdout);
        return 0;
    }
    if (events) {
        const std::string what = argv[2];
        std::vector<uint8_t> bytes;
        if (what == "write") {
            if (o.arguments.size() != 1 || o.output.empty()) return fail("events write needs -o evinfo.bin and one list");
            std::vector<uint8_t> table;
            if (!read_whole_file(o.arguments[0], bytes, error) ||
                !build_event_table(std::string(bytes.begin(), bytes.end()), table, error) ||
                !write_whole_file(o.output, table, error))
                return fail(error);
            return 0;
        }
        if (what == "print") {
            if (o.arguments.size() != 1) return fail("events print takes one table");
            std::string text;
            if (!read_whole_file(o.arguments[0], bytes, error) || !print_event_table(bytes, text, error))
                return fail(o.arguments[0] + ": " + error);
            std::fputs(text.c_str(), stdout);
            return 0;
        }
        return fail("events needs \"write\" or \"print\", not \"" + what + "\"");
    }
    return fail("unknown command \"" + command + "\" (see kegpack --help)");
}
