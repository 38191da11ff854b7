#include "output_tree.h"

#include <cerrno>

#include "platform.h"

namespace {

bool is_separator(char c) { return c == '/' || c == '\\'; }

// Makes one folder, or accepts one that is there already.
bool make_one_folder(const std::string &path) {
    if (platform_make_folder(path)) return true;
    const int reason = errno;
    if (platform_path_kind(path) == PATH_FOLDER) return true;
    errno = reason == EEXIST ? ENOTDIR : reason;
    return false;
}

}  // namespace

std::string join_path(const std::string &folder, const std::string &relative) {
    if (folder.empty()) return relative;
    if (is_separator(folder.back())) return folder + relative;
    return folder + "/" + relative;
}

std::string folder_of(const std::string &path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string file_name_of(const std::string &path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool make_folders(const std::string &path) {
    if (path.empty() || platform_path_kind(path) == PATH_FOLDER) return true;
    for (size_t at = 1; at < path.size(); ++at) {
        // Every folder on the way down; a drive ("C:") or the root is there already.
        if (!is_separator(path[at]) || is_separator(path[at - 1]) || path[at - 1] == ':') continue;
        if (!make_one_folder(path.substr(0, at))) return false;
    }
    return make_one_folder(path);
}

bool make_parent_folders(const std::string &root, const std::string &relative, std::string &failed) {
    for (size_t at = 0; at < relative.size(); ++at) {
        if (!is_separator(relative[at]) || at == 0 || is_separator(relative[at - 1])) continue;
        const std::string folder = join_path(root, relative.substr(0, at));
        if (!make_one_folder(folder)) {
            failed = folder;
            return false;
        }
    }
    return true;
}
