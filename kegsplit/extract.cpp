// extract.cpp: kegsplit's driver: walk the archive and write each picture
// into the current directory tree as it comes, exactly as decoded or
// composed with the held mask.
#include "extract.h"

#include <cerrno>
#include <cstdio>

#include "archive_walk.h"
#include "bmp.h"
#include "fatal.h"
#include "file_util.h"
#include "platform.h"

int print_usage(const char *program, const ArchiveLayout &layout) {
    std::fputs(layout.banner, stderr);
    std::fprintf(stderr, "usage: %s <input.cgf>\n\n", program);
    return -1;
}

int extract_archive(const std::string &path, const ArchiveLayout &layout) {
    ArchiveWalk walk;
    const WalkOpenStatus opened = open_archive_walk(path, layout, walk);
    if (opened == WALK_CANNOT_OPEN) {
        const std::string reason = platform_error_text(errno);
        std::fprintf(stderr, "Could not open %s (%s)\n", path.c_str(), reason.c_str());
        fatal_exit();
    }
    if (opened == WALK_TRUNCATED_TABLE) {
        std::fprintf(stderr, "%s: truncated entry table\n", path.c_str());
        fatal_exit();
    }

    WalkItem item;
    FinishedPicture picture;  // its buffers serve every entry in turn
    while (next_walk_item(walk, item)) {
        const char *name = item.entry.name.c_str();
        switch (item.kind) {
        case WALK_TRUNCATED: std::fprintf(stderr, "%s: truncated entry (skipped)\n", name); continue;
        case WALK_CORRUPT: std::fprintf(stderr, "%s: corrupt entry (skipped)\n", name); continue;
        case WALK_UNSAFE_NAME: std::fprintf(stderr, "%s: unsafe entry name (skipped)\n", name); continue;
        case WALK_MASK: continue;
        case WALK_PICTURE: break;
        }
        finish_picture(item, layout, picture);
        const std::string output = picture.output_stem + ".bmp";
        switch (picture.kind) {
        case FINISHED_PLAIN:
            write_file(output, picture.decoded.get(), static_cast<int32_t>(picture.decoded_size));
            break;
        case FINISHED_COMPOSED:
            write_bmp(output, picture.composed.pixels.get(), picture.composed.size, picture.composed.width,
                      picture.composed.height, 4, 0);
            break;
        case FINISHED_BOGUS: std::fprintf(stderr, "%s: bogus image (skipped)\n", output.c_str()); break;
        case FINISHED_BAD: std::fprintf(stderr, "%s: bad image (skipped)\n", output.c_str()); break;
        }
    }
    return 0;
}
