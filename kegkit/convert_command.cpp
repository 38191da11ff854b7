// convert_command.cpp: kegkit convert: BMP files to PNG under the rules of
// extract --png, PNG files to the BMP files the kit writes.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include "bmp.h"
#include "cli.h"
#include "file_util.h"
#include "kegkit.h"
#include "output_file.h"
#include "output_tree.h"
#include "packing.h"
#include "platform.h"
#include "png_image.h"

namespace {

const char CONVERT_HELP[] =
    "usage: kegkit convert [OPTIONS] FILE...\n"
    "\n"
    "Converts BMP files to PNG (24-bit to RGB, 32-bit to RGBA with its alpha, 8-bit to\n"
    "indexed) and PNG files to BMP (RGB and grey to 24-bit, RGBA and grey with alpha to\n"
    "32-bit, indexed to 8-bit), keeping every pixel. Each file is read as what it holds,\n"
    "whatever its name says. NAME.bmp becomes NAME.png beside it, and the other way round.\n"
    "\n"
    "options:\n"
    "      --to png|bmp   convert only to this format; files in it already are passed over\n"
    "  -o, --output DIR   write into this folder instead\n"
    "      --png-level N  PNG compression, from 1 (fastest) to 12 (smallest); 0 stores\n"
    "                     (default: 6)\n"
    "      --overwrite    replace existing files (they are kept otherwise)\n"
    "  -h, --help         this text\n";

const uint8_t PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// No picture the kit reads is larger than 2 GiB, nor its file much larger.
constexpr uint64_t PICTURE_FILE_LIMIT = uint64_t{BMP_MAX_BUFFER} + (uint64_t{1} << 26);

}  // namespace

int run_convert_command(const std::vector<std::string> &words) {
    const std::vector<KnownOption> known = {{nullptr, "--to", true}, {"-o", "--output", true},
                                           {nullptr, "--overwrite", false}, {"-h", "--help", false},
                                           {nullptr, "--png-level", true}};
    std::vector<ParsedOption> options;
    std::vector<std::string> files;
    std::string error;
    if (!parse_options(words, known, options, files, error)) return usage_error(error, "convert");
    std::string to, output;
    bool overwrite = false, level_given = false;
    PngOptions png_options;
    for (const ParsedOption &o : options) {
        if (o.name == "--help") {
            std::fputs(CONVERT_HELP, stdout);
            return STATUS_OK;
        }
        if (o.name == "--to") {
            if (o.value != "png" && o.value != "bmp") return usage_error("--to takes png or bmp", "convert");
            to = o.value;
        }
        if (o.name == "--output") output = o.value;
        if (o.name == "--overwrite") overwrite = true;
        if (o.name == "--png-level") {
            if (!parse_png_level(o.value, png_options.level)) return usage_error(png_level_range_text(), "convert");
            level_given = true;
        }
    }
    if (level_given && to == "bmp") return usage_error("--png-level is for PNG files, not --to bmp", "convert");
    if (files.empty()) return usage_error("convert needs a file", "convert");
    if (!make_folders(output)) {
        print_error("cannot create folder " + output + " (" + platform_error_text(errno) + ")");
        return STATUS_FAULT;
    }

    int status = STATUS_OK;
    uint64_t kept = 0;
    std::map<std::string, std::string> written;  // target (name key) -> the file it was made from
    for (const std::string &file : files) {
        std::vector<uint8_t> bytes;
        if (!read_whole_file(file, bytes, error, PICTURE_FILE_LIMIT)) {
            print_error(error);
            status = STATUS_FAULT;
            continue;
        }
        const bool is_png = bytes.size() >= 8 && std::memcmp(bytes.data(), PNG_SIGNATURE, 8) == 0;
        const bool is_bmp = bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M';
        if (!is_png && !is_bmp) {
            print_error(file + ": " + (bytes.empty() ? "empty file" : "neither a PNG nor a BMP file") +
                        " (not converted)");
            status = STATUS_FAULT;
            continue;
        }
        // Read whole even when it is passed over: only a picture this kit
        // reads is "already" in the target format.
        Picture picture;
        std::string reason;
        const bool decoded = is_png ? decode_png(bytes.data(), bytes.size(), picture, reason)
                                    : decode_bmp_image(bytes.data(), bytes.size(), picture, reason);
        bytes = std::vector<uint8_t>();
        if (!decoded) {
            print_error(file + ": " + reason + " (not converted)");
            status = STATUS_FAULT;
            continue;
        }
        const std::string target_format = is_png ? "bmp" : "png";
        if (!to.empty() && to != target_format) {
            write_error_text(file + ": a " + (is_png ? "PNG" : "BMP") + " file already (passed over)\n");
            continue;
        }
        std::vector<uint8_t> converted;
        if (is_png)
            encode_bmp_image(picture, converted);
        else if (!encode_png(picture_view(picture), png_options, converted, reason))
            reason = "cannot encode: " + reason;
        if (!is_png && converted.empty()) {
            print_error(file + ": " + reason + " (not converted)");
            status = STATUS_FAULT;
            continue;
        }
        const std::string folder = output.empty() ? folder_of(file) : output;
        const std::string target = join_path(folder, get_file_stem(file_name_of(file), false) + "." + target_format);
        // Two inputs of one name into one folder: the first one's file stays.
        const auto earlier = written.find(platform_file_name_key(target));
        if (earlier != written.end()) {
            print_error(file + ": " + target + " is made from " + earlier->second + " in this run (not converted)");
            status = STATUS_FAULT;
            continue;
        }
        if (!overwrite && platform_path_kind(target) != PATH_NONE) {
            ++kept;
            continue;
        }
        OutputError failure;
        if (!write_file_atomically(target, converted.data(), converted.size(), failure)) {
            print_error("cannot write " + target + " (" + output_error_text(failure) + ")");
            return STATUS_FAULT;
        }
        written.emplace(platform_file_name_key(target), file);
    }
    if (kept > 0)
        write_error_text("kept " + std::to_string(kept) + " existing file" + (kept == 1 ? "" : "s") +
                         " (--overwrite replaces them)\n");
    return status;
}
