// merge.cpp: palimp's driver: for each record, find base then delta, read
// both, blend, write under the event's name; deletions wait for the end.
#include "merge.h"

#include <cstdio>
#include <list>
#include <set>
#include <vector>

#include "bmp.h"
#include "event_table.h"
#include "file_util.h"
#include "merge_step.h"
#include "output_file.h"
#include "platform.h"

int print_palimp_usage(const char *program) {
    std::fputs("palimp, v1.0 by varnholt\n\n", stderr);
    std::fprintf(stderr, "usage: %s <evinfo.bin> [-cleanup]\n\n", program);
    std::fputs("\t-cleanup = delete used delta bitmaps\n\n", stderr);
    return -1;
}

int merge_events(const std::string &table_path, bool cleanup) {
    uint32_t count = 0;
    const std::vector<uint8_t> table = read_event_table(table_path, count);
    std::list<std::string> used_deltas;
    std::set<std::string> outputs;  // files this run wrote, which cleanup never deletes
    // The folder is listed once; the outputs written below are added as they come.
    PictureFolder folder = open_picture_folder("", false);

    for (uint32_t i = 0; i < count; ++i) {
        const EventRecord record = parse_event_record(table.data(), i);
        const char *event = record.event_name.c_str();
        RecordFiles files;
        const FindStatus found = find_record_files(record, folder, files);
        if (found == FIND_UNSAFE_EVENT) {
            std::fprintf(stderr, "%s: unsafe event name (skipped)\n", event);
            continue;
        }
        if (found == FIND_MISSING) {
            std::fprintf(stderr, "%s: could not find %s+%s (skipped)\n", event, record.base_name.c_str(),
                         record.delta_name.c_str());
            continue;
        }
        const std::string output = event_output_stem(record, files) + ".bmp";
        PixelBuffer base;
        ReadFailure failure;
        const BlendStatus blended = blend_record_files(folder, files, base, failure);
        if (blended == BLEND_READ_FAILED) exit_on_bmp_load_error(failure.file, failure.bmp_status, failure.detail);
        if (blended == BLEND_NO_FIT) {
            std::fprintf(stderr, "%s: base dimensions exceeded %s+%s (skipped)\n", event, record.base_name.c_str(),
                         record.delta_name.c_str());
            continue;
        }
        if (blended == BLEND_BAD_DEPTH) {
            std::fprintf(stderr, "%s: unsupported color depth %s+%s (skipped)\n", event, record.base_name.c_str(),
                         record.delta_name.c_str());
            continue;
        }
        // With clean-up the outputs reach the disk before any delta can go.
        BmpFileParts parts;
        build_bmp_file(base.pixels.get(), base.size, base.width, base.height,
                       static_cast<uint32_t>(base.bytes_per_pixel), 0, nullptr, 0, parts);
        OutputFile out;
        OutputError error;
        if (!open_direct_output(out, output, error) || !write_bmp_parts(out, parts, error) ||
            !finish_output(out, cleanup, error))
            exit_on_output_error(output, error);
        platform_index_add(folder.index, output);
        base.pixels.reset();
        if (cleanup) {
            outputs.insert(platform_file_name_key(output));
            used_deltas.push_back(files.delta_file);
        }
    }

    for (const std::string &name : used_deltas)
        if (outputs.count(platform_file_name_key(name)) == 0) platform_delete_file(name);
    return 0;
}
