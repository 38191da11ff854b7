// merge.cpp: for each record, find base then delta, read both, blend,
// write under the event's name, free both; deletions wait for the end.
#include "merge.h"

#include <cstdio>
#include <list>
#include <set>
#include <vector>

#include "bmp.h"
#include "composite.h"
#include "event_table.h"
#include "file_search.h"
#include "file_util.h"
#include "output_file.h"
#include "platform.h"

bool is_safe_event_name(const std::string &name) {
    return name.find_first_of("/\\") == std::string::npos && name != "." && name != "..";
}

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
    FolderIndex folder = platform_index_folder();

    for (uint32_t i = 0; i < count; ++i) {
        const EventRecord record = parse_event_record(table.data(), i);
        const char *event = record.event_name.c_str();
        if (!is_safe_event_name(record.event_name)) {
            std::fprintf(stderr, "%s: unsafe event name (skipped)\n", event);
            continue;
        }
        std::string base_file, delta_file;
        int32_t bx = 0, by = 0, qx = 0, qy = 0;
        if (!find_bitmap(folder, record.base_name, base_file, bx, by) ||
            !find_bitmap(folder, record.delta_name, delta_file, qx, qy)) {
            std::fprintf(stderr, "%s: could not find %s+%s (skipped)\n", event, record.base_name.c_str(),
                         record.delta_name.c_str());
            continue;
        }
        const std::string output = (bx != 0 || by != 0)
                                       ? format_string("%s+x%dy%d.bmp", event, bx, by)
                                       : record.event_name + ".bmp";
        // Exact offsets: a difference of two 32-bit values needs 33 bits.
        const int64_t dx = int64_t{qx} - bx;
        const int64_t dy = int64_t{qy} - by;

        PixelBuffer base, delta;
        read_bmp(base_file, base, 0);
        read_bmp(delta_file, delta, 0);
        const CompositeResult result = composite_delta(base, delta, dx, dy);
        if (result != COMPOSITE_APPLIED) {
            delta.pixels.reset();
            base.pixels.reset();
            if (result == COMPOSITE_NO_FIT)
                std::fprintf(stderr, "%s: base dimensions exceeded %s+%s (skipped)\n", event,
                             record.base_name.c_str(), record.delta_name.c_str());
            else
                std::fprintf(stderr, "%s: unsupported color depth %s+%s (skipped)\n", event,
                             record.base_name.c_str(), record.delta_name.c_str());
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
        platform_index_add(folder, output);
        delta.pixels.reset();
        base.pixels.reset();
        if (cleanup) {
            outputs.insert(platform_file_name_key(output));
            used_deltas.push_back(delta_file);
        }
    }

    for (const std::string &name : used_deltas)
        if (outputs.count(platform_file_name_key(name)) == 0) platform_delete_file(name);
    return 0;
}
