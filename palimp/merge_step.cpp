// merge_step.cpp: find, read, blend. Pictures are read as palimp reads
// them: a BMP file without any check of its depth (the blend refuses what
// it cannot take), a PNG file with exactly the pixels it holds.
#include "merge_step.h"

#include <cerrno>
#include <vector>

#include "composite.h"
#include "file_search.h"
#include "file_util.h"
#include "png_image.h"

namespace {

bool has_png_extension(const std::string &name) {
    if (name.size() < 4) return false;
    std::string ext = name.substr(name.size() - 4);
    for (char &c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return ext == ".png";
}

// A PNG file never needs to be much larger than the largest picture it can hold.
constexpr uint64_t PNG_FILE_LIMIT = uint64_t{BMP_MAX_BUFFER} + (uint64_t{1} << 26);

bool load_picture(const std::string &path, PixelBuffer &picture, ReadFailure &failure) {
    failure.file = path;
    if (!has_png_extension(path)) {
        failure.bmp_status = load_bmp(path, picture, 0, failure.detail);
        return failure.bmp_status == BMP_LOADED;
    }
    std::vector<uint8_t> bytes;
    if (!load_file_bytes(path, bytes, PNG_FILE_LIMIT)) {
        failure.bmp_status = BMP_CANNOT_OPEN;
        failure.detail = errno;
        return false;
    }
    Picture decoded;
    if (!decode_png(bytes.data(), bytes.size(), decoded, failure.png_reason)) return false;
    picture = std::move(decoded.buffer);
    return true;
}

}  // namespace

PictureFolder open_picture_folder(const std::string &folder, bool accept_png) {
    PictureFolder f;
    f.index = platform_index_folder(folder);
    f.accept_png = accept_png;
    return f;
}

std::string picture_path(const PictureFolder &folder, const std::string &file_name) {
    const std::string &dir = folder.index.folder;
    if (dir.empty()) return file_name;
    return dir.back() == '/' || dir.back() == '\\' ? dir + file_name : dir + "/" + file_name;
}

bool is_safe_event_name(const std::string &name) {
    return name.find_first_of("/\\") == std::string::npos && name != "." && name != "..";
}

FindStatus find_record_files(const EventRecord &record, const PictureFolder &folder, RecordFiles &files) {
    if (!is_safe_event_name(record.event_name)) return FIND_UNSAFE_EVENT;
    // The delta is looked for only when the base is there.
    if (!find_picture(folder.index, record.base_name, folder.accept_png, files.base_file, files.bx, files.by) ||
        !find_picture(folder.index, record.delta_name, folder.accept_png, files.delta_file, files.qx, files.qy))
        return FIND_MISSING;
    return FIND_FOUND;
}

std::string event_output_stem(const EventRecord &record, const RecordFiles &files) {
    if (files.bx == 0 && files.by == 0) return record.event_name;
    return format_string("%s+x%dy%d", record.event_name.c_str(), files.bx, files.by);
}

BlendStatus blend_record_files(const PictureFolder &folder, const RecordFiles &files, PixelBuffer &base,
                               ReadFailure &failure) {
    // Exact offsets: a difference of two 32-bit values needs 33 bits.
    const int64_t dx = int64_t{files.qx} - files.bx;
    const int64_t dy = int64_t{files.qy} - files.by;
    PixelBuffer delta;
    if (!load_picture(picture_path(folder, files.base_file), base, failure) ||
        !load_picture(picture_path(folder, files.delta_file), delta, failure))
        return BLEND_READ_FAILED;
    const CompositeResult result = composite_delta(base, delta, dx, dy);
    delta.pixels.reset();
    if (result == COMPOSITE_APPLIED) return BLEND_APPLIED;
    base.pixels.reset();
    return result == COMPOSITE_NO_FIT ? BLEND_NO_FIT : BLEND_BAD_DEPTH;
}
