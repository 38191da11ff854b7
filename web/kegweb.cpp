// kegweb.cpp: the page's way into kegkit. Its worker (web/worker.js) calls
// these functions, and each runs kegkit's own command with kegkit's own
// options, so that the page's files and lines are kegkit's by construction:
// the files go where the command puts them (the worker takes each as it is
// put in place), and the lines go to standard error.
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "archive_fit.h"
#include "cli.h"
#include "extract_options.h"
#include "file_util.h"
#include "kegkit.h"
#include "output_tree.h"
#include "platform.h"

namespace {

// A command as kegkit's main runs it, out of memory included.
template <typename Command>
int run_command(Command command, const std::vector<std::string> &words) {
    int status;
    try {
        status = command(words);
    } catch (const std::bad_alloc &) {
        print_error("out of memory");
        status = STATUS_FAULT;
    }
    std::fflush(stderr);
    return status;
}

}  // namespace

extern "C" {

// kegkit extract --png -j 1 [-r REVISION] -o FOLDER ARCHIVE, where FOLDER is
// `output` itself, or with `several` archives the folder that
// `kegkit extract --png -o OUTPUT A B ...` gives this one inside `output`.
// An empty `revision` lets kegkit find it.
int kegweb_extract(const char *archive, const char *output, int several, const char *revision) {
    const std::string folder = several ? join_path(output, archive_folder_name(archive)) : std::string(output);
    std::vector<std::string> words = {"--png", "-j", "1"};
    if (*revision) words.insert(words.end(), {"-r", revision});
    words.insert(words.end(), {"-o", folder, "--", archive});
    return run_command(run_extract_command, words);
}

// kegkit merge --png -j 1 -i INPUT -o OUTPUT TABLE.
int kegweb_merge(const char *table, const char *input, const char *output) {
    return run_command(run_merge_command, {"--png", "-j", "1", "-i", input, "-o", output, "--", table});
}

// The revisions worth offering when kegkit asks for one: those that read
// equally many entries of the archive, or, where none reads any, those
// whose entry table lies inside the file. Space-separated; empty when kegkit
// finds the revision by itself or no revision can read the file.
const char *kegweb_revision_choices(const char *archive) {
    static std::string choices;
    choices.clear();
    const int fd = platform_open(archive, OPEN_READ_FLAGS, 0);
    if (fd == -1) return choices.c_str();
    const ScopedFile file(fd);
    const int64_t size = platform_file_size(fd);
    if (size < 0) return choices.c_str();
    const ReadAt read_at = read_from_file(fd);
    const LayoutChoice choice = choose_archive_layout(read_at, static_cast<uint64_t>(size));
    if (choice.layout) return choices.c_str();
    std::vector<const ArchiveLayout *> offered = choice.best;
    if (offered.empty())
        for (const ArchiveLayout *layout : ALL_LAYOUTS)
            if (measure_layout_fit(read_at, static_cast<uint64_t>(size), *layout, UINT32_MAX).table_inside)
                offered.push_back(layout);
    for (const ArchiveLayout *layout : offered)
        choices += std::string(choices.empty() ? "" : " ") + revision_of_layout(*layout);
    return choices.c_str();
}

}  // extern "C"
