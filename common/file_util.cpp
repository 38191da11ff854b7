#include "file_util.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "fatal.h"
#include "output_file.h"
#include "platform.h"

ScopedFile::~ScopedFile() { platform_close(fd); }

int open_file_or_exit(const std::string &name, int flags, int mode) {
    const int fd = platform_open(name, flags, mode);
    if (fd != -1) return fd;
    const std::string reason = platform_error_text(errno);
    std::fprintf(stderr, "Could not open %s (%s)\n", name.c_str(), reason.c_str());
    fatal_exit();
}

std::string format_string(const char *format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (n > 0) {
        std::vector<char> buffer(static_cast<size_t>(n) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, again);
        text.assign(buffer.data());
    }
    va_end(again);
    return text;
}

std::string get_file_stem(const std::string &path, bool strip_directory) {
    std::string stem = path;
    const size_t slash = stem.find_last_of("/\\");
    const size_t dot = stem.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) stem.resize(dot);
    if (strip_directory) {
        const size_t last = stem.find_last_of("/\\");
        if (last != std::string::npos) stem.erase(0, last + 1);
    }
    return stem;
}

void exit_on_output_error(const std::string &name, const OutputError &error) {
    const std::string reason = output_error_text(error);
    std::fprintf(stderr, error.step == OUTPUT_OPEN ? "Could not open %s (%s)\n" : "Could not write %s (%s)\n",
                 name.c_str(), reason.c_str());
    fatal_exit();
}

void write_file(const std::string &name, const uint8_t *data, int32_t length) {
    OutputFile out;
    OutputError error;
    if (!open_direct_output(out, name, error) ||
        !write_output(out, data, length > 0 ? static_cast<size_t>(length) : 0, error) ||
        !finish_output(out, false, error))
        exit_on_output_error(name, error);
}

bool load_file_bytes(const std::string &name, std::vector<uint8_t> &bytes, uint64_t max_size) {
    const int fd = platform_open(name, OPEN_READ_FLAGS, 0);
    if (fd == -1) return false;
    const ScopedFile file(fd);
    const int64_t size = platform_file_size(fd);
    if (size < 0) {
        errno = EINVAL;  // a pipe or a device: no size to read to
        return false;
    }
    if (static_cast<uint64_t>(size) > max_size) {
        errno = EFBIG;
        return false;
    }
    bytes.resize(static_cast<size_t>(size));
    if (platform_read(fd, bytes.data(), bytes.size()) != bytes.size()) {
        errno = EIO;  // the file grew shorter while it was read
        return false;
    }
    return true;
}
