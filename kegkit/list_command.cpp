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
    "usage: kegkit list [-r 2.11|2.12|2.13] ARCHIVE...\n"
    "\n"
    "Says which revisions' layouts each archive fits (every entry inside the file and\n"
    "decoding to a BMP file) and lists its entries as the first revision that fits reads\n"
    "them, or as the revision given with -r. With several archives each listing starts\n"
    "with a line naming its archive.\n";

}  // namespace

int run_list_command(const std::vector<std::string> &words) {
    std::vector<ParsedOption> options;
    std::vector<std::string> archives;
    std::string error;
    if (!parse_options(words, {{"-r", "--revision", true}, {"-h", "--help", false}}, options, archives, error))
        return usage_error(error, "list");
    const ArchiveLayout *layout = nullptr;
    for (const ParsedOption &o : options) {
        if (o.name == "--help") {
            std::fputs(LIST_HELP, stdout);
            return STATUS_OK;
        }
        if (!(layout = layout_for_revision(o.value)))
            return usage_error("unknown revision \"" + o.value + "\" (2.11, 2.12 or 2.13)", "list");
    }
    if (archives.empty()) return usage_error("list needs an archive", "list");
    int status = STATUS_OK;
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
        if (size < 0 || !list_cgf(read_from_file(fd), static_cast<uint64_t>(size), layout, text, error)) {
            print_error(path + ": " + (size < 0 ? std::string("not a file") : error));
            status = STATUS_FAULT;
            continue;
        }
        if (archives.size() > 1) std::printf("%s%s:\n", i == 0 ? "" : "\n", path.c_str());
        std::fputs(text.c_str(), stdout);
    }
    return status;
}
