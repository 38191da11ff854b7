// extract_command.cpp: kegkit extract. The archive is walked on this thread
// in table order; each picture is decoded, composed, encoded and written
// under a temporary name on a worker; its file is put in place, and its
// messages printed, in table order. An existing file is kept unless the
// user asks for it to be replaced. Entry names are read in the archive's
// code page; outputs whose names the file system takes as one (on Windows,
// names that differ only in case) are one file, the later entry's.
#include <cerrno>
#include <cstdio>
#include <memory>
#include <set>

#include "archive_fit.h"
#include "archive_walk.h"
#include "bmp.h"
#include "cli.h"
#include "extract_options.h"
#include "file_util.h"
#include "kegkit.h"
#include "name_glob.h"
#include "ordered_pool.h"
#include "output_file.h"
#include "output_tree.h"
#include "platform.h"
#include "png_image.h"

namespace {

const char EXTRACT_HELP[] =
    "usage: kegkit extract [OPTIONS] ARCHIVE...\n"
    "\n"
    "Extracts every picture of each archive into a folder, as kegsplit would write it.\n"
    "\n"
    "options:\n"
    "  -r, --revision 2.11|2.12|2.13  the archive's revision (found by itself when it is\n"
    "                                 the only one the archive fits, or the one that reads\n"
    "                                 the most entries of a damaged archive)\n"
    "  -o, --output DIR               the folder to write into (default: a folder named\n"
    "                                 after the archive; with several archives, DIR/NAME)\n"
    "      --png                      write PNG files instead of BMP files\n"
    "      --png-level N              PNG compression, from 1 (fastest) to 12 (smallest);\n"
    "                                 0 stores (default: 6)\n"
    "      --overwrite                replace existing files (they are kept otherwise)\n"
    "  -j, --jobs N                   threads (default: one for each core)\n"
    "      --only GLOB                only entries whose names match (repeatable; '/' for\n"
    "                                 a stored '\\', '*' and '?' as in the shell)\n"
    "      --names auto|cp932|gbk|utf-8|raw\n"
    "                                 the code page of the entry names (default auto: the\n"
    "                                 first of utf-8, cp932 and gbk that reads them all)\n"
    "  -v, --verbose                  say which revision and code page each archive was\n"
    "                                 read as\n"
    "  -h, --help                     this text\n";

// What the whole run shares, touched on the main thread only.
struct ExtractRun {
    const ExtractOptions *options = nullptr;
    std::set<std::string> written;  // final paths this run has put in place (name keys)
    uint64_t kept = 0;
    std::vector<bool> only_matched;  // for each --only pattern: whether an entry matched it
    Progress progress;
};

// One archive's counts, for its summary line.
struct ArchiveCounts {
    std::string label;
    uint64_t total = 0, done = 0, written = 0, skipped = 0, kept = 0, bytes = 0;
};

std::string error_text(int error) { return platform_error_text(error); }

std::string revision_list(const std::vector<const ArchiveLayout *> &layouts) {
    std::string names;
    for (size_t i = 0; i < layouts.size(); ++i)
        names += std::string(i == 0 ? "" : i + 1 == layouts.size() ? " and " : ", ") + revision_of_layout(*layouts[i]);
    return names;
}

// The archive's layout: the one given, the only one it fits, or for a
// damaged archive the one under which strictly the most entries are
// readable (the others then get their skip lines from the walk).
const ArchiveLayout *choose_layout(const std::string &path, const ExtractOptions &o, Progress &progress) {
    if (o.layout) return o.layout;
    const int fd = platform_open(path, OPEN_READ_FLAGS, 0);
    if (fd == -1) throw InputFailure("cannot open " + path + " (" + error_text(errno) + ")");
    const ScopedFile file(fd);
    const int64_t size = platform_file_size(fd);
    LayoutChoice choice;
    if (size >= 0) choice = choose_archive_layout(read_from_file(fd), static_cast<uint64_t>(size));
    const LayoutFit &fit = choice.fit;
    const bool whole = fit.readable == fit.count;
    if (choice.layout) {
        if (o.verbose)
            say(progress, path + ": revision " + revision_of_layout(*choice.layout) +
                              (whole ? ""
                                     : " (" + std::to_string(fit.readable) + " of its " + std::to_string(fit.count) +
                                           " entries readable)"));
        return choice.layout;
    }
    if (choice.best.empty())
        throw InputFailure(path + " fits none of the revisions 2.11, 2.12 and 2.13; give one with -r");
    if (whole) throw InputFailure(path + " fits revisions " + revision_list(choice.best) + "; choose one with -r");
    throw InputFailure(path + ": revisions " + revision_list(choice.best) + " each read " +
                       std::to_string(fit.readable) + " of its " + std::to_string(fit.count) +
                       " entries; choose one with -r");
}

bool selected(ExtractRun &run, const std::string &stored_name) {
    const std::vector<std::string> &only = run.options->only;
    if (only.empty()) return true;
    std::string name = stored_name;
    for (char &c : name)
        if (c == '\\') c = '/';
    bool any = false;
    for (size_t i = 0; i < only.size(); ++i)
        if (glob_match(only[i], name)) any = run.only_matched[i] = true;
    return any;
}

// A picture's file, written under a temporary name and closed, with what
// its commit prints; `name` is relative to the archive's folder.
struct WrittenPicture {
    std::string name;
    std::string note;
    std::unique_ptr<OutputFile> out;
    uint64_t bytes = 0;
};

void write_parts(const std::string &folder, WrittenPicture &w, const void *head, size_t head_size,
                 const void *body, size_t body_size) {
    std::string failed;
    if (!make_parent_folders(folder, w.name, failed))
        throw RunFailure("cannot create folder " + failed + " (" + error_text(errno) + ")");
    w.out = std::make_unique<OutputFile>();
    OutputError error;
    const std::string path = join_path(folder, w.name);
    if (!open_temporary_output(*w.out, path, error) || !write_output(*w.out, head, head_size, error) ||
        !write_output(*w.out, body, body_size, error) || !close_output(*w.out, false, error))
        throw RunFailure("cannot write " + path + " (" + output_error_text(error) + ")");
    w.bytes = head_size + body_size;
}

void encode_and_write(const std::string &folder, const PixelView &view, int level, WrittenPicture &w) {
    std::vector<uint8_t> png;
    std::string reason;
    PngOptions options;
    options.level = level;
    if (!encode_png(view, options, png, reason)) throw RunFailure("cannot encode " + w.name + " (" + reason + ")");
    write_parts(folder, w, png.data(), png.size(), nullptr, 0);
}

// Decodes, composes, encodes and writes one picture; on a worker.
Commit finish_entry(WalkItem &item, const ArchiveLayout &layout, const std::string &folder, bool png, int level,
                    const std::string &expected, ExtractRun &run, ArchiveCounts &counts) {
    // Each thread keeps its buffers from picture to picture.
    thread_local FinishedPicture picture;
    finish_picture(item, layout, picture);
    const std::string ext = png ? ".png" : ".bmp";
    if (picture.kind == FINISHED_BOGUS || picture.kind == FINISHED_BAD) {
        const std::string line =
            picture.output_stem + ext + (picture.kind == FINISHED_BOGUS ? ": bogus image (skipped)" : ": bad image (skipped)");
        return [line, &run, &counts] {
            say(run.progress, line);
            ++counts.skipped;
            ++counts.done;
        };
    }
    auto w = std::make_shared<WrittenPicture>();
    w->name = picture.output_stem + ext;
    if (picture.kind == FINISHED_COMPOSED) {
        const ComposedPicture &c = picture.composed;
        if (png) {
            encode_and_write(folder, PixelView{c.pixels.get(), c.width, c.height, 4, size_t{c.width} * 4, nullptr, 0},
                             level, *w);
        } else {
            BmpFileParts parts;
            build_bmp_file(c.pixels.get(), c.size, c.width, c.height, 4, 0, nullptr, 0, parts);
            write_parts(folder, *w, parts.head, parts.head_size, parts.pixels, parts.pixels_size);
        }
    } else {
        Picture decoded;
        std::string reason;
        if (png && decode_bmp_image(picture.decoded.get(), picture.decoded_size, decoded, reason)) {
            encode_and_write(folder, picture_view(decoded), level, *w);
        } else {
            if (png) {
                w->name = picture.output_stem + ".bmp";
                w->note = w->name + ": written as BMP, not PNG (" + reason + ")";
            }
            write_parts(folder, *w, picture.decoded.get(), picture.decoded_size, nullptr, 0);
        }
    }
    return [w, folder, expected, &run, &counts] {
        if (!w->note.empty()) say(run.progress, w->note);
        ++counts.done;
        const std::string path = join_path(folder, w->name);
        // A file named otherwise than the entry's own output was not looked for before.
        if (w->name != expected && !run.options->overwrite && !run.written.count(platform_file_name_key(path)) &&
            platform_path_kind(path) != PATH_NONE) {
            discard_output(*w->out);
            ++counts.kept;
            return;
        }
        OutputError error;
        if (!commit_output(*w->out, error)) throw RunFailure("cannot write " + path + " (" + output_error_text(error) + ")");
        run.written.insert(platform_file_name_key(path));
        ++counts.written;
        counts.bytes += w->bytes;
        show_progress(run.progress, counts.label, counts.done, counts.total, counts.bytes);
    };
}

void extract_one(const std::string &path, const std::string &folder, ExtractRun &run) {
    const ExtractOptions &o = *run.options;
    if (opens_as_no_file(path)) throw InputFailure(path + ": not a file");
    const ArchiveLayout *layout = choose_layout(path, o, run.progress);
    ArchiveWalk walk;
    const WalkOpenStatus opened = open_archive_walk(path, *layout, walk);
    if (opened == WALK_CANNOT_OPEN) throw InputFailure("cannot open " + path + " (" + error_text(errno) + ")");
    if (opened == WALK_TRUNCATED_TABLE) throw InputFailure(path + ": truncated entry table");
    walk.names = read_table_names(path, "entry", stored_entry_names(walk), o.names, o.verbose, run.progress);
    if (!make_folders(folder)) throw RunFailure("cannot create folder " + folder + " (" + error_text(errno) + ")");

    ArchiveCounts counts;
    counts.label = file_name_of(path);
    counts.total = walk.count;
    std::set<std::string> scheduled;  // outputs of this archive on their way (name keys)
    const std::string ext = o.png ? ".png" : ".bmp";
    OrderedPool pool(o.jobs);
    auto skip = [&](const std::string &line) {
        give_commit(pool, [line, &run, &counts] {
            say(run.progress, line);
            ++counts.skipped;
            ++counts.done;
        });
    };
    auto pass = [&] { give_commit(pool, [&counts] { ++counts.done; }); };

    WalkItem item;
    while (next_walk_item(walk, item)) {
        const std::string &name = item.entry.name;
        if (item.kind == WALK_MASK) {
            pass();
            continue;
        }
        if (!item.entry.is_mask && !selected(run, name)) {
            pass();
            continue;
        }
        if (item.kind == WALK_TRUNCATED) { skip(name + ": truncated entry (skipped)"); continue; }
        if (item.kind == WALK_CORRUPT) { skip(name + ": corrupt entry (skipped)"); continue; }
        if (item.kind == WALK_UNSAFE_NAME) { skip(name + ": unsafe entry name (skipped)"); continue; }

        const std::string expected = picture_output_stem(item) + ext;
        const std::string target = platform_file_name_key(join_path(folder, expected));
        if (!o.overwrite && !scheduled.count(target) && !run.written.count(target) &&
            platform_path_kind(join_path(folder, expected)) != PATH_NONE) {
            give_commit(pool, [&counts] {
                ++counts.kept;
                ++counts.done;
            });
            continue;
        }
        scheduled.insert(target);
        auto job = std::make_shared<WalkItem>(std::move(item));
        give_work(pool, [job, layout, folder, png = o.png, level = o.png_level, expected, &run, &counts]() {
            return finish_entry(*job, *layout, folder, png, level, expected, run, counts);
        });
        item = WalkItem();
    }
    commit_all(pool);
    run.kept += counts.kept;
    if (run.progress.shown_allowed) {
        say(run.progress, counts.label + ": " + std::to_string(counts.written) + " written, " +
                              std::to_string(counts.skipped) + " skipped, " + std::to_string(counts.kept) + " kept");
    }
}

}  // namespace

std::string archive_folder_name(const std::string &path) {
    const std::string stem = get_file_stem(path, true);
    return stem.empty() || stem == file_name_of(path) ? stem + "_files" : stem;
}

int run_extract(const ExtractOptions &o) {
    ExtractRun run;
    run.options = &o;
    run.only_matched.assign(o.only.size(), false);
    run.progress = make_progress();
    int status = STATUS_OK;
    for (const std::string &path : o.archives) {
        std::string folder;
        if (o.beside_archive) folder = join_path(folder_of(path), archive_folder_name(path));
        else if (o.output.empty()) folder = archive_folder_name(path);
        else folder = o.archives.size() > 1 ? join_path(o.output, archive_folder_name(path)) : o.output;
        try {
            extract_one(path, folder, run);
        } catch (const InputFailure &failure) {
            say(run.progress, std::string("kegkit: ") + failure.what());
            status = STATUS_FAULT;
        } catch (const RunFailure &failure) {
            say(run.progress, std::string("kegkit: ") + failure.what());
            status = STATUS_FAULT;
            break;
        }
    }
    erase_progress(run.progress);
    if (run.kept > 0)
        write_error_text("kept " + std::to_string(run.kept) + " existing file" + (run.kept == 1 ? "" : "s") +
                         " (--overwrite replaces them)\n");
    // A pattern that no entry of the archives matched is most likely
    // mistyped (said only after a run that read every archive).
    const bool read_all = status == STATUS_OK;
    for (size_t i = 0; i < o.only.size(); ++i) {
        if (!read_all || run.only_matched[i]) continue;
        write_error_text("kegkit: --only " + o.only[i] + " matched no entry\n");
        status = STATUS_FAULT;
    }
    return status;
}

int run_extract_command(const std::vector<std::string> &words) {
    const std::vector<KnownOption> known = {{"-r", "--revision", true}, {"-o", "--output", true},
                                           {nullptr, "--png", false},  {nullptr, "--overwrite", false},
                                           {"-j", "--jobs", true},     {nullptr, "--only", true},
                                           {"-v", "--verbose", false}, {"-h", "--help", false},
                                           {nullptr, "--png-level", true}, NAMES_OPTION};
    std::vector<ParsedOption> options;
    ExtractOptions o;
    std::string error;
    if (!parse_options(words, known, options, o.archives, error)) return usage_error(error, "extract");
    o.jobs = default_jobs();
    bool level_given = false;
    for (const ParsedOption &opt : options) {
        if (opt.name == "--help") {
            std::fputs(EXTRACT_HELP, stdout);
            return STATUS_OK;
        }
        if (opt.name == "--revision" && !(o.layout = layout_for_revision(opt.value)))
            return usage_error("unknown revision \"" + opt.value + "\" (2.11, 2.12 or 2.13)", "extract");
        if (opt.name == "--jobs" && !parse_jobs(opt.value, o.jobs))
            return usage_error("-j takes a number of threads from 1 to 256", "extract");
        if (opt.name == "--output") o.output = opt.value;
        if (opt.name == "--png") o.png = true;
        if (opt.name == "--png-level") {
            if (!parse_png_level(opt.value, o.png_level)) return usage_error(png_level_range_text(), "extract");
            level_given = true;
        }
        if (opt.name == "--overwrite") o.overwrite = true;
        if (opt.name == "--only") o.only.push_back(opt.value);
        if (opt.name == "--verbose") o.verbose = true;
        if (opt.name == "--names" && !parse_name_encoding(opt.value, o.names))
            return names_usage_error(opt.value, "extract");
    }
    if (level_given && !o.png) return usage_error("--png-level is for PNG files: add --png", "extract");
    if (o.archives.empty()) return usage_error("extract needs an archive", "extract");
    return run_extract(o);
}

int run_dropped_archives(const std::vector<std::string> &archives) {
    ExtractOptions o;
    o.archives = archives;
    o.png = true;
    o.beside_archive = true;
    o.jobs = default_jobs();
    const int status = run_extract(o);
    if (platform_console_is_ours_alone()) {
        write_error_text(status == STATUS_OK ? "Done. Press a key to close this window.\n"
                                             : "Press a key to close this window.\n");
        platform_wait_for_key();
    }
    return status;
}
