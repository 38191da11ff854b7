// merge_step.h: one record of an event table, from its names to the blended
// picture: find the base and the delta in a folder, read both, blend the
// delta in. palimp and kegkit merge both take each record through it and
// differ only in what they print and how they write the result.
#pragma once

#include <cstdint>
#include <string>

#include "bmp.h"
#include "event_table.h"
#include "platform.h"

// The folder the pictures are searched and read in.
struct PictureFolder {
    FolderIndex index;        // its listing, kept true as outputs are added
    bool accept_png = false;  // PNG files too, each after the BMP of the same name
};
PictureFolder open_picture_folder(const std::string &folder, bool accept_png);

// The path of a file of the folder.
std::string picture_path(const PictureFolder &folder, const std::string &file_name);

// The files found for a record, as the folder names them, with their placements.
struct RecordFiles {
    std::string base_file, delta_file;
    int32_t bx = 0, by = 0;  // base placement
    int32_t qx = 0, qy = 0;  // delta placement
};

enum FindStatus {
    FIND_FOUND,
    FIND_UNSAFE_EVENT,  // the event's name would leave the folder
    FIND_MISSING,       // no file for the base, or for the delta
};
FindStatus find_record_files(const EventRecord &record, const PictureFolder &folder, RecordFiles &files);

// The output's name without its extension: the event's name, with the
// base's placement suffix when the base has one.
std::string event_output_stem(const EventRecord &record, const RecordFiles &files);

enum BlendStatus {
    BLEND_APPLIED,     // `base` holds the merged picture
    BLEND_NO_FIT,      // the delta does not lie wholly inside the base
    BLEND_BAD_DEPTH,   // a picture is neither 24 nor 32 bits
    BLEND_READ_FAILED  // a file could not be read: see ReadFailure
};

struct ReadFailure {
    std::string file;             // the path that failed
    BmpLoadStatus bmp_status = BMP_LOADED;
    int detail = 0;               // as load_bmp sets it
    std::string png_reason;       // a PNG file's reason, when bmp_status is BMP_LOADED
};

// Reads the base, then the delta, and blends the delta in at its offset.
BlendStatus blend_record_files(const PictureFolder &folder, const RecordFiles &files, PixelBuffer &base,
                               ReadFailure &failure);

// Whether an event name is a bare file name: no separator, not "." or "..".
bool is_safe_event_name(const std::string &name);
