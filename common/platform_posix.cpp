// platform_posix.cpp: the platform layer for Linux and other POSIX systems.
#include "platform.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

// The build defines _FILE_OFFSET_BITS=64 on 32-bit targets (target_flags.cmake).
// Without it readdir fails with EOVERFLOW on file systems whose directory
// offsets or inode numbers need 64 bits, and files past 2 GiB cannot be opened.
static_assert(sizeof(off_t) == 8, "build with 64-bit file offsets (_FILE_OFFSET_BITS=64)");

namespace {

// Flag bits of the runtime library's open call that the kit passes.
constexpr int RT_O_WRONLY = 0x0001;
constexpr int RT_O_CREAT = 0x0100;
constexpr int RT_O_TRUNC = 0x0200;

unsigned char ascii_lower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

// Directories never match; a link counts as what it names, and a dangling
// link counts as a file (opening it fails later, with the usual message).
bool is_directory(const struct dirent *entry) {
    if (entry->d_type == DT_REG) return false;
    if (entry->d_type == DT_DIR) return true;
    struct stat st;
    if (stat(entry->d_name, &st) != 0) return false;
    return S_ISDIR(st.st_mode);
}

std::string ascii_lowercase(const std::string &name) {
    std::string key = name;
    for (char &c : key) c = static_cast<char>(ascii_lower(static_cast<unsigned char>(c)));
    return key;
}

}  // namespace

int platform_open(const std::string &name, int flags, int mode) {
    int native = O_CLOEXEC;
    if (flags & RT_O_WRONLY) native |= O_WRONLY;
    else native |= O_RDONLY;
    if (flags & RT_O_CREAT) native |= O_CREAT;
    if (flags & RT_O_TRUNC) native |= O_TRUNC;
    // The permission bits 0x180 are owner read and write here too (octal 0600).
    return ::open(name.c_str(), native, static_cast<mode_t>(mode));
}

size_t platform_read(int fd, void *buffer, size_t count) {
    auto *p = static_cast<unsigned char *>(buffer);
    size_t done = 0;
    while (done < count) {
        const size_t chunk = std::min<size_t>(count - done, size_t{1} << 30);
        const ssize_t n = ::read(fd, p + done, chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}

void platform_write(int fd, const void *buffer, size_t count) {
    const auto *p = static_cast<const unsigned char *>(buffer);
    size_t done = 0;
    while (done < count) {
        const size_t chunk = std::min<size_t>(count - done, size_t{1} << 30);
        const ssize_t n = ::write(fd, p + done, chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
}

bool platform_seek(int fd, uint64_t position) {
    if (position > static_cast<uint64_t>(INT64_MAX)) return false;
    return ::lseek(fd, static_cast<off_t>(position), SEEK_SET) != static_cast<off_t>(-1);
}

int64_t platform_file_size(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<int64_t>(st.st_size);
}

void platform_close(int fd) { ::close(fd); }

std::string platform_error_text(int error) { return std::strerror(error); }

std::string platform_native_path(const std::string &stored) {
    std::string path = stored;
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

FolderIndex platform_index_folder() {
    FolderIndex index;
    DIR *dir = opendir(".");
    if (!dir) return index;
    while (const struct dirent *entry = readdir(dir))
        if (!is_directory(entry)) index.files.emplace(ascii_lowercase(entry->d_name), entry->d_name);
    closedir(dir);
    return index;
}

void platform_index_add(FolderIndex &index, const std::string &name) { index.files.emplace(ascii_lowercase(name), name); }

// Names compare without regard to ASCII case. Of several exact matches the
// one equal byte for byte wins, else the first in unsigned byte order; of
// several placed matches the first in unsigned byte order. (std::string
// compares as unsigned char.)
bool platform_find_file(const FolderIndex &index, const std::string &name, FindMode mode, std::string *found) {
    const std::string key = ascii_lowercase(mode == FIND_EXACT ? name + ".bmp" : name + "+");
    const std::pair<std::string, std::string> from(key, std::string());
    const std::string *best = nullptr;
    for (auto it = index.files.lower_bound(from);
         it != index.files.end() && it->first.compare(0, key.size(), key) == 0; ++it) {
        const std::string &candidate = it->second;
        if (mode == FIND_EXACT) {
            if (it->first.size() != key.size()) continue;
            if (candidate == name + ".bmp") {
                best = &candidate;
                break;
            }
        } else if (it->first.size() < key.size() + 4 || it->first.compare(it->first.size() - 4, 4, ".bmp") != 0) {
            continue;
        }
        if (!best || candidate < *best) best = &candidate;
    }
    if (best) *found = *best;
    return best != nullptr;
}

void platform_delete_file(const std::string &name) { ::unlink(name.c_str()); }

std::string platform_file_name_key(const std::string &name) { return name; }
