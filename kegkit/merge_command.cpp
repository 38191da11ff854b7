// merge_command.cpp: kegkit merge, palimp's job between two folders. The
// records are found, read and blended on this thread in table order; the
// events are encoded and written on workers and put in place in table order.
// A record that reads a file an earlier record is still writing waits for
// it, so every result and message is that of a sequential run. The table's
// names are read in its code page, as extract reads an archive's.
#include <cerrno>
#include <cstdio>
#include <list>
#include <memory>
#include <set>

#include "bmp.h"
#include "cli.h"
#include "event_table.h"
#include "kegkit.h"
#include "merge_step.h"
#include "ordered_pool.h"
#include "output_file.h"
#include "output_tree.h"
#include "platform.h"
#include "png_image.h"

namespace {

const char MERGE_HELP[] =
    "usage: kegkit merge [OPTIONS] TABLE\n"
    "\n"
    "For each record of the event table, blends the delta picture onto the base picture\n"
    "at the delta's offset and writes the event picture, as palimp does. Pictures may be\n"
    "BMP or PNG files: NAME.bmp, then NAME.png, then NAME+xXyY.bmp or .png.\n"
    "\n"
    "options:\n"
    "  -i, --input DIR    the folder of the pictures (default: the current one)\n"
    "  -o, --output DIR   the folder for the events (default: the input folder)\n"
    "      --png          write the events as PNG files\n"
    "      --png-level N  PNG compression, from 1 (fastest) to 12 (smallest); 0 stores\n"
    "                     (default: 6)\n"
    "      --cleanup      afterwards delete the deltas used, once every event is written\n"
    "                     whole and flushed to the disk (never a file this run wrote)\n"
    "  -j, --jobs N       threads (default: one for each core)\n"
    "      --names auto|cp932|gbk|utf-8|raw\n"
    "                     the code page of the table's names (default auto: the first\n"
    "                     of utf-8, cp932 and gbk that reads them all)\n"
    "  -h, --help         this text\n";

struct MergeOptions {
    std::string input, output, table;
    bool png = false, cleanup = false;
    NameEncoding names = NAMES_AUTO;
    int png_level = PNG_LEVEL_DEFAULT;
    unsigned jobs = 1;
};

// What the commits share, on the main thread.
struct MergeRun {
    std::set<std::string> unwritten;  // outputs (name keys) given to workers, not yet in place
    std::set<std::string> written;    // outputs put in place (name keys)
    std::list<std::string> used_deltas;
};

std::string read_failure_text(const ReadFailure &f) {
    if (!f.png_reason.empty()) return f.file + ": " + f.png_reason;
    if (f.bmp_status == BMP_CANNOT_OPEN) return "cannot open " + f.file + " (" + platform_error_text(f.detail) + ")";
    return f.file + ": image too large";
}

Commit say_commit(const std::string &line) {
    return [line] { write_error_text(line + "\n"); };
}

// Encodes and writes one event picture under a temporary name; on a worker.
std::shared_ptr<OutputFile> write_event(const PixelBuffer &base, const std::string &path, bool png, int level,
                                        bool sync) {
    auto out = std::make_shared<OutputFile>();
    OutputError error;
    bool ok;
    if (png) {
        const PixelView view{base.pixels.get(), base.width, base.height, static_cast<uint32_t>(base.bytes_per_pixel),
                             static_cast<size_t>(base.stride), nullptr, 0};
        std::vector<uint8_t> bytes;
        std::string reason;
        PngOptions options;
        options.level = level;
        if (!encode_png(view, options, bytes, reason)) throw RunFailure("cannot encode " + path + " (" + reason + ")");
        ok = open_temporary_output(*out, path, error) && write_output(*out, bytes.data(), bytes.size(), error);
    } else {
        BmpFileParts parts;
        build_bmp_file(base.pixels.get(), base.size, base.width, base.height,
                       static_cast<uint32_t>(base.bytes_per_pixel), 0, nullptr, 0, parts);
        ok = open_temporary_output(*out, path, error) && write_bmp_parts(*out, parts, error);
    }
    if (!ok || !close_output(*out, sync, error))
        throw RunFailure("cannot write " + path + " (" + output_error_text(error) + ")");
    return out;
}

void merge_table(const MergeOptions &o) {
    std::vector<uint8_t> table;
    uint32_t count = 0;
    if (opens_as_no_file(o.table)) throw RunFailure(o.table + ": not a file");
    const EventTableStatus loaded = load_event_table(o.table, table, count);
    if (loaded == TABLE_CANNOT_OPEN) throw RunFailure("cannot open " + o.table + " (" + platform_error_text(errno) + ")");
    if (loaded == TABLE_TRUNCATED) throw RunFailure(o.table + ": truncated event table");
    std::vector<std::string> stored;
    for (uint32_t i = 0; i < count; ++i) {
        const EventRecord r = parse_event_record(table.data(), i);
        stored.insert(stored.end(), {r.event_name, r.base_name, r.delta_name});
    }
    Progress quiet;  // never shown: only for the note about names
    const std::vector<std::string> names = read_table_names(o.table, "event", stored, o.names, false, quiet);
    stored = std::vector<std::string>();
    // A folder that is not there (a mistyped -i) is a fault, not a run in
    // which every picture is missing; nor is an output folder made for it.
    PictureFolder folder = open_picture_folder(o.input, true);
    if (folder.index.error != 0)
        throw RunFailure("cannot list " + o.input + " (" + platform_error_text(folder.index.error) + ")");
    if (!make_folders(o.output))
        throw RunFailure("cannot create folder " + o.output + " (" + platform_error_text(errno) + ")");
    // Outputs written into the input folder are found by later records, as palimp finds them.
    const bool one_folder = o.input == o.output ||
                            platform_same_file(o.input.empty() ? "." : o.input, o.output.empty() ? "." : o.output);
    MergeRun run;
    OrderedPool pool(o.jobs);

    for (uint32_t i = 0; i < count; ++i) {
        const EventRecord record{names[3 * size_t{i}], names[3 * size_t{i} + 1], names[3 * size_t{i} + 2]};
        const std::string &event = record.event_name;
        const std::string pair = record.base_name + "+" + record.delta_name;
        RecordFiles files;
        const FindStatus found = find_record_files(record, folder, files);
        if (found == FIND_UNSAFE_EVENT) {
            give_commit(pool, say_commit(event + ": unsafe event name (skipped)"));
            continue;
        }
        if (found == FIND_MISSING) {
            give_commit(pool, say_commit(event + ": could not find " + pair + " (skipped)"));
            continue;
        }
        const std::string output = event_output_stem(record, files) + (o.png ? ".png" : ".bmp");
        if (one_folder &&
            (run.unwritten.count(platform_file_name_key(files.base_file)) ||
             run.unwritten.count(platform_file_name_key(files.delta_file))))
            commit_all(pool);  // it reads an event an earlier record is still writing

        auto base = std::make_shared<PixelBuffer>();
        ReadFailure failure;
        const BlendStatus blended = blend_record_files(folder, files, *base, failure);
        if (blended == BLEND_READ_FAILED) {
            const std::string message = read_failure_text(failure);
            give_commit(pool, [message] { throw RunFailure(message); });
            break;
        }
        if (blended != BLEND_APPLIED) {
            const char *what = blended == BLEND_NO_FIT ? ": base dimensions exceeded " : ": unsupported color depth ";
            give_commit(pool, say_commit(event + what + pair + " (skipped)"));
            continue;
        }
        const std::string key = platform_file_name_key(output);
        if (one_folder) {
            platform_index_add(folder.index, output);
            run.unwritten.insert(key);
        }
        const std::string path = join_path(o.output, output);
        const std::string delta_path = picture_path(folder, files.delta_file);
        const bool png = o.png, sync = o.cleanup;
        const int level = o.png_level;
        give_work(pool, [base, path, png, level, sync, key, delta_path, &run, &o]() -> Commit {
            std::shared_ptr<OutputFile> out = write_event(*base, path, png, level, sync);
            base->pixels.reset();
            return [out, path, key, delta_path, &run, &o] {
                OutputError error;
                if (!commit_output(*out, error))
                    throw RunFailure("cannot write " + path + " (" + output_error_text(error) + ")");
                run.unwritten.erase(key);
                run.written.insert(key);
                if (o.cleanup) run.used_deltas.push_back(delta_path);
            };
        });
    }
    commit_all(pool);

    // Every event is in place and on the disk: the deltas may go now.
    for (const std::string &delta : run.used_deltas) {
        if (one_folder && run.written.count(platform_file_name_key(file_name_of(delta)))) continue;
        platform_delete_file(delta);
    }
}

}  // namespace

int run_merge_command(const std::vector<std::string> &words) {
    const std::vector<KnownOption> known = {{"-i", "--input", true}, {"-o", "--output", true},
                                           {nullptr, "--png", false}, {nullptr, "--cleanup", false},
                                           {"-j", "--jobs", true},    {"-h", "--help", false},
                                           {nullptr, "--png-level", true}, NAMES_OPTION};
    std::vector<ParsedOption> options;
    std::vector<std::string> arguments;
    std::string error;
    if (!parse_options(words, known, options, arguments, error)) return usage_error(error, "merge");
    MergeOptions o;
    o.jobs = default_jobs();
    bool output_given = false, level_given = false;
    for (const ParsedOption &opt : options) {
        if (opt.name == "--help") {
            std::fputs(MERGE_HELP, stdout);
            return STATUS_OK;
        }
        if (opt.name == "--jobs" && !parse_jobs(opt.value, o.jobs))
            return usage_error("-j takes a number of threads from 1 to 256", "merge");
        if (opt.name == "--input") o.input = opt.value;
        if (opt.name == "--output") o.output = opt.value, output_given = true;
        if (opt.name == "--png") o.png = true;
        if (opt.name == "--png-level") {
            if (!parse_png_level(opt.value, o.png_level)) return usage_error(png_level_range_text(), "merge");
            level_given = true;
        }
        if (opt.name == "--cleanup") o.cleanup = true;
        if (opt.name == "--names" && !parse_name_encoding(opt.value, o.names))
            return names_usage_error(opt.value, "merge");
    }
    if (level_given && !o.png) return usage_error("--png-level is for PNG files: add --png", "merge");
    if (arguments.size() != 1) return usage_error("merge takes one event table", "merge");
    o.table = arguments[0];
    if (!output_given) o.output = o.input;
    try {
        merge_table(o);
    } catch (const RunFailure &failure) {
        print_error(failure.what());
        return STATUS_FAULT;
    }
    return STATUS_OK;
}
