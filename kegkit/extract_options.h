// extract_options.h: what kegkit extract is asked to do.
#pragma once

#include <string>
#include <vector>

#include "archive_layout.h"
#include "name_encoding.h"
#include "png_image.h"

struct ExtractOptions {
    const ArchiveLayout *layout = nullptr;  // null: found for each archive
    std::string output;                     // -o; empty: a folder named after the archive
    bool beside_archive = false;            // the folder goes beside the archive
    bool png = false;
    int png_level = PNG_LEVEL_DEFAULT;  // --png-level
    bool overwrite = false;
    bool verbose = false;
    NameEncoding names = NAMES_AUTO;  // how entry names are read
    unsigned jobs = 1;
    std::vector<std::string> only;
    std::vector<std::string> archives;
};

// The folder an archive's files go into when no -o names it, and its name
// inside -o DIR when several archives are extracted: the archive's name
// without its extension (with "_files" added where that leaves it unchanged).
std::string archive_folder_name(const std::string &archive_path);

// Extracts every archive; returns the exit status.
int run_extract(const ExtractOptions &options);
