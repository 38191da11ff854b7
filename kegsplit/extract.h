// extract.h: the extraction driver shared by every kegsplit revision.
#pragma once

#include <string>

#include "archive_layout.h"

// Prints the banner and the usage text; returns the status -1.
int print_usage(const char *program, const ArchiveLayout &layout);

// Extracts every entry of the archive at `path` into the current directory
// tree. Returns 0 after the last entry; fatal faults end the run instead.
int extract_archive(const std::string &path, const ArchiveLayout &layout);
