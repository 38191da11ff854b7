// platform_posix.cpp: the platform layer for Linux and other POSIX systems,
// and for the browser (emscripten), which has no terminal, no signals and no
// huge pages: there those calls do nothing.
#include "platform.h"

#include <cerrno>
#include <cstring>
#include <csignal>
#include <dirent.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <fcntl.h>
#if !defined(__EMSCRIPTEN__)
#include <iconv.h>
#endif
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <new>
#include <vector>

#include "temporary_registry.h"

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
bool is_directory(const std::string &folder, const struct dirent *entry) {
    if (entry->d_type == DT_REG) return false;
    if (entry->d_type == DT_DIR) return true;
    struct stat st;
    const std::string path = folder.empty() ? entry->d_name : folder + "/" + entry->d_name;
    if (stat(path.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode);
}

bool ends_with_any(const std::string &lowered, size_t after, const std::vector<std::string> &extensions) {
    for (const std::string &ext : extensions)
        if (lowered.size() >= after + ext.size() && lowered.compare(lowered.size() - ext.size(), ext.size(), ext) == 0)
            return true;
    return false;
}

std::string ascii_lowercase(const std::string &name) {
    std::string key = name;
    for (char &c : key) c = static_cast<char>(ascii_lower(static_cast<unsigned char>(c)));
    return key;
}

}  // namespace

// Names are bytes here, UTF-8 or not: nothing to switch.
void platform_use_utf8_names() {}

bool platform_names_are_bytes() { return true; }

std::vector<std::string> platform_arguments(int argc, char **argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

void platform_write_text(std::FILE *stream, const std::string &text) {
    std::fwrite(text.data(), 1, text.size(), stream);
}

#if !defined(__EMSCRIPTEN__)
// The browser has its own: platform_web_names.cpp.
namespace {

// The C library's converters, opened once per thread and direction: a
// descriptor holds a conversion's state, so threads cannot share one.
struct Converters {
    std::array<iconv_t, 4> cd;
    Converters() { cd.fill(reinterpret_cast<iconv_t>(-1)); }
    ~Converters() {
        for (iconv_t c : cd)
            if (c != reinterpret_cast<iconv_t>(-1)) iconv_close(c);
    }
    Converters(const Converters &) = delete;
    Converters &operator=(const Converters &) = delete;
};

// glibc's "CP932" and "GBK" follow Windows' tables. A C library without
// them fails to open one: the code page then fits no name, and nothing is
// converted.
iconv_t converter(CodePage code_page, bool decode) {
    thread_local Converters converters;
    iconv_t &cd = converters.cd[static_cast<size_t>(code_page) * 2 + (decode ? 1 : 0)];
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        const char *table = code_page == CODE_PAGE_CP932 ? "CP932" : "GBK";
        cd = decode ? iconv_open("UTF-8", table) : iconv_open(table, "UTF-8");
    }
    return cd;
}

// The whole of `in` converted; false at the first sequence that is not a
// character of the source, or has no equivalent in the target.
bool convert_all(iconv_t cd, const std::string &in, std::string &out) {
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);  // a fresh state
    std::string input = in;
    out.assign(in.size() * 4 + 8, '\0');  // no character grows more than four times
    char *from = input.data(), *to = out.data();
    size_t from_left = input.size(), to_left = out.size();
    if (iconv(cd, &from, &from_left, &to, &to_left) == static_cast<size_t>(-1) || from_left != 0 ||
        iconv(cd, nullptr, nullptr, &to, &to_left) == static_cast<size_t>(-1))
        return false;
    out.resize(out.size() - to_left);
    return true;
}

}  // namespace

bool platform_decode_name(const std::string &bytes, CodePage code_page, std::string &utf8) {
    return convert_all(converter(code_page, true), bytes, utf8);
}

bool platform_encode_name(const std::string &utf8, CodePage code_page, std::string &bytes) {
    // The tables map some characters onto others' codes ("¥" onto the
    // backslash's): only a code that decodes to the same text counts.
    std::string back;
    return convert_all(converter(code_page, false), utf8, bytes) &&
           convert_all(converter(code_page, true), bytes, back) && back == utf8;
}
#endif

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

bool platform_write(int fd, const void *buffer, size_t count) {
    const auto *p = static_cast<const unsigned char *>(buffer);
    size_t done = 0;
    while (done < count) {
        const size_t chunk = std::min<size_t>(count - done, size_t{1} << 30);
        const ssize_t n = ::write(fd, p + done, chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {
            errno = ENOSPC;  // nothing more went out, and the system gave no reason
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool platform_sync(int fd) {
    while (::fsync(fd) != 0) {
        if (errno == EINTR) continue;
        // A device or a pipe has nothing to flush.
        return errno == EINVAL || errno == ENOTSUP || errno == EOPNOTSUPP;
    }
    return true;
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

// A close interrupted by a signal has closed the descriptor all the same;
// it is not retried.
bool platform_close(int fd) { return ::close(fd) == 0 || errno == EINTR; }

bool platform_is_regular_file(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

int platform_create_new(const std::string &name) {
    return ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

bool platform_rename_replace(const std::string &from, const std::string &to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

PathKind platform_path_kind(const std::string &path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return PATH_NONE;
    if (S_ISREG(st.st_mode)) return PATH_FILE;
    if (S_ISDIR(st.st_mode)) return PATH_FOLDER;
    return PATH_OTHER;
}

bool platform_same_file(const std::string &a, const std::string &b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool platform_make_folder(const std::string &path) { return ::mkdir(path.c_str(), 0777) == 0; }

#if defined(__EMSCRIPTEN__)
// The page reads standard error line by line: no progress line for it.
bool platform_is_terminal(int) { return false; }
#else
bool platform_is_terminal(int fd) { return ::isatty(fd) == 1; }
#endif

// A terminal here outlives the programs it runs.
bool platform_console_is_ours_alone() { return false; }

void platform_wait_for_key() {}

void platform_reuse_large_blocks() {
#if defined(__GLIBC__)
    // Blocks up to 32 MiB (glibc's largest setting) come from the heap and
    // go back to it; the heap is trimmed only past 256 MiB of free space.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
}

void LargeBufferFree::operator()(uint8_t *block) const {
    if (mapped == 0) delete[] block;
    else munmap(block, mapped);
}

// The address sanitizer watches heap blocks only: under it every buffer
// comes from the heap at its exact size, so that it sees overruns.
#if defined(__SANITIZE_ADDRESS__)
#define KIT_MAP_LARGE_BUFFERS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define KIT_MAP_LARGE_BUFFERS 0
#endif
#endif
#if !defined(KIT_MAP_LARGE_BUFFERS) && defined(MADV_HUGEPAGE) && !defined(__EMSCRIPTEN__)
#define KIT_MAP_LARGE_BUFFERS 1
#endif

LargeBuffer platform_allocate_large_buffer(size_t size, size_t &capacity) {
    capacity = size;
#if KIT_MAP_LARGE_BUFFERS
    constexpr size_t HUGE_PAGE = size_t{2} << 20;
    if (size >= HUGE_PAGE / 2 && size <= SIZE_MAX / 2 - HUGE_PAGE) {
        // Mapped one huge page larger than needed, then cut to whole huge pages.
        const size_t rounded = (size + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
        void *mapping = mmap(nullptr, rounded + HUGE_PAGE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapping == MAP_FAILED) throw std::bad_alloc();
        const uintptr_t start = reinterpret_cast<uintptr_t>(mapping);
        const uintptr_t aligned = (start + HUGE_PAGE - 1) & ~uintptr_t{HUGE_PAGE - 1};
        if (aligned > start) munmap(mapping, aligned - start);
        const uintptr_t end = start + rounded + HUGE_PAGE;
        if (end > aligned + rounded) munmap(reinterpret_cast<void *>(aligned + rounded), end - aligned - rounded);
        madvise(reinterpret_cast<void *>(aligned), rounded, MADV_HUGEPAGE);  // a hint only
        capacity = rounded;
        return LargeBuffer(reinterpret_cast<uint8_t *>(aligned), LargeBufferFree{rounded});
    }
#endif
    return LargeBuffer(new uint8_t[size ? size : 1]);
}

unsigned long platform_process_id() { return static_cast<unsigned long>(::getpid()); }

#if defined(__EMSCRIPTEN__)
// No signal interrupts a run in the browser: nothing to track.
int platform_create_temporary(const std::string &path, int &slot) {
    slot = -1;
    return platform_create_new(path);
}

void platform_untrack_temporary(int) {}

void platform_remove_temporaries_on_interrupt() {}
#else
namespace {

constexpr int INTERRUPTS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

}  // namespace

int platform_create_temporary(const std::string &path, int &slot) {
    // The interrupts wait while this thread creates and tracks the file, so
    // that the clean-up never runs here in the middle of it.
    sigset_t interrupts, previous;
    sigemptyset(&interrupts);
    for (int s : INTERRUPTS) sigaddset(&interrupts, s);
    pthread_sigmask(SIG_BLOCK, &interrupts, &previous);
    if (!temporary_registry::begin_creating()) {
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        for (;;) pause();  // the run is ending
    }
    slot = temporary_registry::track(path);
    const int fd = platform_create_new(path);
    const int reason = errno;
    if (fd == -1) {
        temporary_registry::untrack(slot);
        slot = -1;
    }
    temporary_registry::end_creating();
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = reason;
    return fd;
}

void platform_untrack_temporary(int slot) { temporary_registry::untrack(slot); }

namespace {

void remove_temporaries_and_end(int signal_number) {
    temporary_registry::remove_all([](const char *path) { ::unlink(path); },
                                   [] {
                                       const timespec millisecond = {0, 1000000};
                                       nanosleep(&millisecond, nullptr);
                                   });
    // End as the signal would have ended the run, so callers see why.
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

}  // namespace

void platform_remove_temporaries_on_interrupt() {
    for (int s : INTERRUPTS) {
        struct sigaction action = {};
        action.sa_handler = remove_temporaries_and_end;
        sigemptyset(&action.sa_mask);
        sigaction(s, &action, nullptr);
    }
}
#endif

std::string platform_error_text(int error) { return std::strerror(error); }

std::string platform_native_path(const std::string &stored) {
    std::string path = stored;
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

FolderIndex platform_index_folder(const std::string &folder) {
    FolderIndex index;
    index.folder = folder;
    DIR *dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) {
        index.error = errno;
        return index;
    }
    while (const struct dirent *entry = readdir(dir))
        if (!is_directory(folder, entry)) index.files.emplace(ascii_lowercase(entry->d_name), entry->d_name);
    closedir(dir);
    return index;
}

void platform_index_add(FolderIndex &index, const std::string &name) { index.files.emplace(ascii_lowercase(name), name); }

// Names compare without regard to ASCII case. Of several exact matches the
// one equal byte for byte wins, else the first in unsigned byte order; of
// several placed matches the first in unsigned byte order. (std::string
// compares as unsigned char.)
bool platform_find_file(const FolderIndex &index, const std::string &name, FindMode mode,
                        const std::vector<std::string> &extensions, std::string *found) {
    const std::string exact = name + extensions[0];
    const std::string key = ascii_lowercase(mode == FIND_EXACT ? exact : name + "+");
    const std::pair<std::string, std::string> from(key, std::string());
    const std::string *best = nullptr;
    for (auto it = index.files.lower_bound(from);
         it != index.files.end() && it->first.compare(0, key.size(), key) == 0; ++it) {
        const std::string &candidate = it->second;
        if (mode == FIND_EXACT) {
            if (it->first.size() != key.size()) continue;
            if (candidate == exact) {
                best = &candidate;
                break;
            }
        } else if (!ends_with_any(it->first, key.size(), extensions)) {
            continue;
        }
        if (!best || candidate < *best) best = &candidate;
    }
    if (best) *found = *best;
    return best != nullptr;
}

bool platform_list_folder(const std::string &folder, std::vector<FolderEntry> &entries) {
    DIR *dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return false;
    errno = 0;
    while (const struct dirent *entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        const std::string path = folder.empty() ? name : folder + "/" + name;
        struct stat st;
        PathKind kind = PATH_OTHER;
        if (lstat(path.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode))
                kind = PATH_FOLDER;
            else if (S_ISREG(st.st_mode) ||
                     (S_ISLNK(st.st_mode) && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)))
                kind = PATH_FILE;
        }
        entries.push_back({name, kind});
        errno = 0;
    }
    const int reason = errno;
    closedir(dir);
    errno = reason;
    return reason == 0;
}

bool platform_delete_file(const std::string &name) { return ::unlink(name.c_str()) == 0; }

std::string platform_file_name_key(const std::string &name) { return name; }
