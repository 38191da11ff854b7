// main.cpp: kegkit COMMAND ..., or kegkit ARCHIVE... with no command (the
// archives dropped on the program).
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "cli.h"
#include "kegkit.h"
#include "platform.h"

namespace {

const char HELP[] =
    "usage: kegkit COMMAND [OPTIONS] ARGUMENTS\n"
    "       kegkit ARCHIVE...\n"
    "       kegkit --version\n"
    "\n"
    "Runs one of the commands below. Given archives instead of a command, extracts each\n"
    "as PNG into a folder named after it beside it, as when archives are dropped on the\n"
    "program.\n"
    "\n"
    "commands:\n"
    "  extract [-r REV] [-o DIR] [--png] [--png-level N] [--overwrite] [-j N] [--only GLOB]... [-v] ARCHIVE...\n"
    "      extract the pictures of archives of any revision into a folder\n"
    "  merge [-i DIR] [-o DIR] [--png] [--png-level N] [--cleanup] [-j N] TABLE\n"
    "      blend each event's delta picture onto its base, as palimp does\n"
    "  list [-r REV] ARCHIVE...\n"
    "      say which revisions an archive fits and list its entries\n"
    "  convert [--to png|bmp] [-o DIR] [--png-level N] [--overwrite] FILE...\n"
    "      convert pictures between BMP and PNG\n"
    "  create [-r REV] [-m MODE] -o OUT.cgf MANIFEST\n"
    "      build an archive from a manifest of pictures and masks (BMP or PNG)\n"
    "  repack [-r REV] [-m MODE] -o OUT.cgf FOLDER\n"
    "      build an archive that extracts to the pictures of FOLDER (BMP or PNG)\n"
    "  events write -o evinfo.bin LIST | events print TABLE\n"
    "      write an event table from lines \"EVENT BASE DELTA\", or print one\n"
    "\n"
    "Every command that reads or writes entry or event names takes --names auto|cp932|\n"
    "gbk|utf-8|raw, the code page they are stored in (default auto: found by itself).\n"
    "Each command has its own --help; --version (or -V) prints kegkit's version. Exit\n"
    "status: 0 when the run reached its end, 1 when a fault ended it or an input could\n"
    "not be read, 2 for a usage error.\n";

int dispatch(const std::vector<std::string> &words) {
    if (words.empty()) {
        write_error_text(HELP);
        return STATUS_USAGE;
    }
    const std::string &command = words[0];
    const std::vector<std::string> rest(words.begin() + 1, words.end());
    if (command == "-h" || command == "--help" || command == "help") {
        std::fputs(HELP, stdout);
        return STATUS_OK;
    }
    if (command == "-V" || command == "--version") {
        std::puts(KEGKIT_VERSION_LINE);
        return STATUS_OK;
    }
    if (command == "extract") return run_extract_command(rest);
    if (command == "merge") return run_merge_command(rest);
    if (command == "list") return run_list_command(rest);
    if (command == "convert") return run_convert_command(rest);
    if (command == "create") return run_create_command(rest);
    if (command == "repack") return run_repack_command(rest);
    if (command == "events") return run_events_command(rest);
    if (command == "--") return rest.empty() ? usage_error("no archive given", "") : run_dropped_archives(rest);
    if (command[0] == '-') return usage_error("unknown option " + command, "");
    // A word that names no file and looks like no file name is a mistyped command.
    if (command.find_first_of("./\\") == std::string::npos && platform_path_kind(command) == PATH_NONE)
        return usage_error("unknown command \"" + command + "\"", "");
    return run_dropped_archives(words);
}

}  // namespace

int main(int argc, char **argv) {
    // Every name inside kegkit is UTF-8, whatever the system's language.
    platform_use_utf8_names();
    platform_remove_temporaries_on_interrupt();
    platform_reuse_large_blocks();
    try {
        return dispatch(platform_arguments(argc, argv));
    } catch (const std::bad_alloc &) {
        print_error("out of memory");
        return STATUS_FAULT;
    }
}
