// list_command.cpp: kegkit list: which revisions each archive fits, and its
// entries.
#include <cerrno>
#include <cstdio>

#include "archive_fit.h"
#include "cli.h"
#include "file_util.h"
#include "kegkit.h"
#include "platform.h"

namespace {

const char LIST_HELP[] =
    "usage: kegkit list [-r 2.11|2.12|2.13] [--names ENCODING] [-v] ARCHIVE...\n"
    "\n"
    "Says which revisions' layouts each archive fits (every entry inside the file and\n"
    "decoding to a BMP file) and lists its entries as the first revision that fits reads\n"
    "them, or as the revision given with -r. With several archives each listing starts\n"
    "with a line naming its archive.\n"
    "\n"
    "options:\n"
    "  -r, --revision 2.11|2.12|2.13  the revision to list the entries as\n"
    "      --names auto|cp932|gbk|utf-8|raw\n"
    "                                 the code page of the entry names (default auto: the\n"
    "                                 first of utf-8, cp932 and gbk that reads them all)\n"
    "  -v, --verbose                  say which code page was taken, and show the stored\n"
    "                                 bytes of every name that is not ASCII\n"
    "  -h, --help                     this text\n";

}  // namespace

int run_list_command(const std::vector<std::string> &words) {
    std::vector<ParsedOption> options;
    std::vector<std::string> archives;
    std::string error;
    if (!parse_options(words,
                       {{"-r", "--revision", true}, NAMES_OPTION, {"-v", "--verbose", false}, {"-h", "--help", false}},
                       options, archives, error))
        return usage_error(error, "list");
    const ArchiveLayout *layout = nullptr;
    ListNames names;
    names.encoding = NAMES_AUTO;
    names.spelling = system_raw_spelling();
    for (const ParsedOption &o : options) {
        if (o.name == "--help") {
            std::fputs(LIST_HELP, stdout);
            return STATUS_OK;
        }
        if (o.name == "--revision" && !(layout = layout_for_revision(o.value)))
            return usage_error("unknown revision \"" + o.value + "\" (2.11, 2.12 or 2.13)", "list");
        if (o.name == "--names" && !parse_name_encoding(o.value, names.encoding))
            return names_usage_error(o.value, "list");
        if (o.name == "--verbose") names.show_bytes = true;
    }
    if (archives.empty()) return usage_error("list needs an archive", "list");
    int status = STATUS_OK;
    Progress progress;  // never shown: only for the lines about names
    for (size_t i = 0; i < archives.size(); ++i) {
        const std::string &path = archives[i];
        const int fd = platform_open(path, OPEN_READ_FLAGS, 0);
        if (fd == -1) {
            print_error("cannot open " + path + " (" + platform_error_text(errno) + ")");
            status = STATUS_FAULT;
            continue;
        }
        const ScopedFile file(fd);
        const int64_t size = platform_file_size(fd);
        std::string text;
        NameReading reading;
        if (size < 0 ||
            !list_cgf(read_from_file(fd), static_cast<uint64_t>(size), layout, names, reading, text, error)) {
            print_error(path + ": " + (size < 0 ? std::string("not a file") : error));
            status = STATUS_FAULT;
            continue;
        }
        report_names(path, reading, names.show_bytes, progress);
        if (archives.size() > 1) write_output_text((i == 0 ? "" : "\n") + path + ":\n");
        write_output_text(text);
    }
    return status;
}
