// file_search.h: finding a picture's bitmap file and its placement offset.
#pragma once

#include <cstdint>
#include <string>

#include "platform.h"

// Looks in the folder for name + ".bmp", else for a file named name + "+"
// ... ".bmp". On success sets `found` to the file's name and (x, y) to the
// placement its name carries, (0, 0) when it carries none. `folder` is the
// folder's listing (platform_index_folder).
bool find_bitmap(const FolderIndex &folder, const std::string &name, std::string &found, int32_t &x, int32_t &y);

// find_bitmap with PNG files too: name + ".bmp", then name + ".png", then
// the first (as find_bitmap orders them) of name + "+" ... ".bmp" or ".png".
bool find_picture(const FolderIndex &folder, const std::string &name, bool accept_png, std::string &found,
                  int32_t &x, int32_t &y);

// Reads "+x<int>y<int>" right after `name` at the start of `file_name`, the
// way "%d" reads numbers (blanks skipped, optional sign). Both numbers must
// be there and fit 32 bits; otherwise (x, y) = (0, 0) and false.
bool parse_placement(const std::string &file_name, const std::string &name, int32_t &x, int32_t &y);
