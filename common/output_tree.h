// output_tree.h: the folder a run writes into, and the folders inside it
// that entry names hold.
#pragma once

#include <string>

// `folder` joined with a relative path; an empty folder is the current one.
std::string join_path(const std::string &folder, const std::string &relative);

// The folder part of a path ("" when it has none) and the rest.
std::string folder_of(const std::string &path);
std::string file_name_of(const std::string &path);

// Creates `path` and the folders above it as needed. False with errno set
// when a part cannot be made or is not a folder.
bool make_folders(const std::string &path);

// Creates the folders that the relative path `relative` holds below `root`
// (not the last part, which is a file). False with `failed` naming the
// folder that could not be made, and errno set.
bool make_parent_folders(const std::string &root, const std::string &relative, std::string &failed);
