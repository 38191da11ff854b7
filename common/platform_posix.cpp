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

namespace {

// Flag bits of the runtime library's open call that the kit passes.
constexpr int RT_O_WRONLY = 0x0001;
constexpr int RT_O_CREAT = 0x0100;
constexpr int RT_O_TRUNC = 0x0200;

unsigned char ascii_lower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

bool equal_ignoring_case(const char *a, size_t n, const char *b) {
    for (size_t i = 0; i < n; ++i)
        if (ascii_lower(static_cast<unsigned char>(a[i])) != ascii_lower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool starts_with_ignoring_case(const std::string &s, const std::string &prefix) {
    return s.size() >= prefix.size() && equal_ignoring_case(s.data(), prefix.size(), prefix.data());
}

bool ends_with_ignoring_case(const std::string &s, const std::string &suffix) {
    return s.size() >= suffix.size() &&
           equal_ignoring_case(s.data() + s.size() - suffix.size(), suffix.size(), suffix.data());
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

// Names compare without regard to ASCII case. Of several exact matches the
// one equal byte for byte wins, else the first in unsigned byte order; of
// several placed matches the first in unsigned byte order.
bool platform_find_file(const std::string &name, FindMode mode, std::string *found) {
    DIR *dir = opendir(".");
    if (!dir) return false;
    const std::string exact = name + ".bmp";
    const std::string prefix = name + "+";
    std::string best;
    bool have = false;
    bool have_byte_exact = false;
    while (const struct dirent *entry = readdir(dir)) {
        const std::string candidate = entry->d_name;
        if (mode == FIND_EXACT) {
            if (candidate.size() != exact.size() || !starts_with_ignoring_case(candidate, exact)) continue;
        } else {
            if (candidate.size() < prefix.size() + 4 || !starts_with_ignoring_case(candidate, prefix) ||
                !ends_with_ignoring_case(candidate, ".bmp"))
                continue;
        }
        if (have_byte_exact || is_directory(entry)) continue;
        if (mode == FIND_EXACT && candidate == exact) {
            best = candidate;
            have = have_byte_exact = true;
            continue;
        }
        // std::string compares char_traits<char>, which orders as unsigned char.
        if (!have || candidate < best) {
            best = candidate;
            have = true;
        }
    }
    closedir(dir);
    if (have) *found = best;
    return have;
}

void platform_delete_file(const std::string &name) { ::unlink(name.c_str()); }

std::string platform_file_name_key(const std::string &name) { return name; }
