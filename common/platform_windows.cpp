// platform_windows.cpp: the platform layer for Windows, on the C runtime's
// descriptor calls and the ANSI file-search and delete calls.
#include <errno.h>
#include <fcntl.h>
#include <direct.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <climits>
#include <cstring>
#include <new>

#include "platform.h"
#include "temporary_registry.h"

namespace {

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool equal_ignoring_case(const char *a, const char *b, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    return true;
}

// The search's own matching also looks at short 8.3 aliases and treats
// '*' and '?' in the name as wildcards; only what matches the name as a
// literal counts, and directories never do.
bool accepted(const WIN32_FIND_DATAA &entry, const std::string &name, FindMode mode,
              const std::vector<std::string> &extensions) {
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    const std::string found = entry.cFileName;
    if (mode == FIND_EXACT) {
        const std::string exact = name + extensions[0];
        return found.size() == exact.size() && equal_ignoring_case(found.data(), exact.data(), exact.size());
    }
    const std::string prefix = name + "+";
    if (found.size() < prefix.size() || !equal_ignoring_case(found.data(), prefix.data(), prefix.size())) return false;
    for (const std::string &ext : extensions)
        if (found.size() >= prefix.size() + ext.size() &&
            equal_ignoring_case(found.data() + found.size() - ext.size(), ext.data(), ext.size()))
            return true;
    return false;
}

}  // namespace

int platform_open(const std::string &name, int flags, int mode) { return _open(name.c_str(), flags, mode); }

size_t platform_read(int fd, void *buffer, size_t count) {
    auto *p = static_cast<unsigned char *>(buffer);
    size_t done = 0;
    while (done < count) {
        const unsigned chunk = static_cast<unsigned>(count - done < (1u << 30) ? count - done : (1u << 30));
        const int n = _read(fd, p + done, chunk);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}

bool platform_write(int fd, const void *buffer, size_t count) {
    const auto *p = static_cast<const unsigned char *>(buffer);
    size_t done = 0;
    while (done < count) {
        const unsigned chunk = static_cast<unsigned>(count - done < (1u << 30) ? count - done : (1u << 30));
        const int n = _write(fd, p + done, chunk);
        if (n < 0) return false;
        if (n == 0) {
            errno = ENOSPC;  // the runtime reports a full disk as a write of nothing
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool platform_sync(int fd) {
    if (_commit(fd) == 0) return true;
    return errno == EBADF && !platform_is_regular_file(fd);  // a console or a pipe
}

bool platform_seek(int fd, uint64_t position) {
    if (position > static_cast<uint64_t>(INT64_MAX)) return false;
    return _lseeki64(fd, static_cast<__int64>(position), SEEK_SET) != -1;
}

int64_t platform_file_size(int fd) {
    struct _stati64 st;
    if (_fstati64(fd, &st) != 0 || !(st.st_mode & _S_IFREG)) return -1;
    return static_cast<int64_t>(st.st_size);
}

bool platform_close(int fd) { return _close(fd) == 0; }

bool platform_is_regular_file(int fd) {
    struct _stati64 st;
    return _fstati64(fd, &st) == 0 && (st.st_mode & _S_IFREG);
}

int platform_create_new(const std::string &name) {
    return _open(name.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}

bool platform_rename_replace(const std::string &from, const std::string &to) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    const DWORD code = GetLastError();
    errno = code == ERROR_ACCESS_DENIED ? EACCES : code == ERROR_DISK_FULL ? ENOSPC
          : code == ERROR_PATH_NOT_FOUND ? ENOENT : EIO;
    return false;
}

PathKind platform_path_kind(const std::string &path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return PATH_NONE;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return PATH_OTHER;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PATH_FOLDER;
    return PATH_FILE;
}

namespace {

bool file_identity(const std::string &path, BY_HANDLE_FILE_INFORMATION &info) {
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const BOOL ok = GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    return ok != 0;
}

}  // namespace

bool platform_same_file(const std::string &a, const std::string &b) {
    BY_HANDLE_FILE_INFORMATION ia, ib;
    return file_identity(a, ia) && file_identity(b, ib) && ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

bool platform_make_folder(const std::string &path) { return _mkdir(path.c_str()) == 0; }

bool platform_is_terminal(int fd) { return _isatty(fd) != 0; }

// A console that lists this process alone was made for it (the program was
// started from the file manager) and closes when it ends.
bool platform_console_is_ours_alone() {
    DWORD processes[2];
    return GetConsoleProcessList(processes, 2) == 1;
}

void platform_wait_for_key() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    FlushConsoleInputBuffer(input);
    INPUT_RECORD record;
    DWORD read = 0;
    while (ReadConsoleInputA(input, &record, 1, &read)) {
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) return;
    }
}

// The runtime's heap keeps what it can by itself.
void platform_reuse_large_blocks() {}

void LargeBufferFree::operator()(uint8_t *block) const { delete[] block; }  // never mapped here

// Large pages need a privilege that users do not have: a plain block.
LargeBuffer platform_allocate_large_buffer(size_t size, size_t &capacity) {
    capacity = size;
    return LargeBuffer(new uint8_t[size ? size : 1]);
}

unsigned long platform_process_id() { return GetCurrentProcessId(); }

int platform_create_temporary(const std::string &path, int &slot) {
    if (!temporary_registry::begin_creating()) Sleep(INFINITE);  // the run is ending
    slot = temporary_registry::track(path);
    const int fd = platform_create_new(path);
    const int reason = errno;
    if (fd == -1) {
        temporary_registry::untrack(slot);
        slot = -1;
    }
    temporary_registry::end_creating();
    errno = reason;
    return fd;
}

void platform_untrack_temporary(int slot) { temporary_registry::untrack(slot); }

namespace {

// Runs on a thread of its own when the console is interrupted or closed;
// returning FALSE lets the default handler end the process.
BOOL WINAPI remove_temporaries(DWORD) {
    temporary_registry::remove_all([](const char *path) { DeleteFileA(path); }, [] { Sleep(1); });
    return FALSE;
}

}  // namespace

void platform_remove_temporaries_on_interrupt() { SetConsoleCtrlHandler(remove_temporaries, TRUE); }

std::string platform_error_text(int error) { return std::strerror(error); }

std::string platform_native_path(const std::string &stored) { return stored; }

// The system's search is indexed by the file system itself; the list holds
// only the files a run adds, which may still be on their way to the disk.
FolderIndex platform_index_folder(const std::string &folder) {
    FolderIndex index;
    index.folder = folder;
    return index;
}

void platform_index_add(FolderIndex &index, const std::string &name) {
    index.files.emplace(platform_file_name_key(name), name);
}

bool platform_find_file(const FolderIndex &index, const std::string &name, FindMode mode,
                        const std::vector<std::string> &extensions, std::string *found) {
    const std::string where = index.folder.empty() ? "" : index.folder + "\\";
    const std::string pattern =
        where + (mode == FIND_EXACT ? name + extensions[0] : extensions.size() == 1 ? name + "+*" + extensions[0]
                                                                                      : name + "+*");
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern.c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        bool have = false;
        do {
            if (accepted(entry, name, mode, extensions)) {
                *found = entry.cFileName;
                have = true;
                break;
            }
        } while (FindNextFileA(search, &entry));
        FindClose(search);
        if (have) return true;
    }
    // Files this run added that the disk may not show yet.
    for (const auto &[key, added] : index.files) {
        WIN32_FIND_DATAA as_found = {};
        std::strncpy(as_found.cFileName, added.c_str(), sizeof as_found.cFileName - 1);
        if (accepted(as_found, name, mode, extensions)) {
            *found = added;
            return true;
        }
    }
    return false;
}

bool platform_delete_file(const std::string &name) {
    if (DeleteFileA(name.c_str())) return true;
    const DWORD code = GetLastError();
    errno = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
    return false;
}

std::string platform_file_name_key(const std::string &name) {
    std::string key = name;
    for (char &c : key) c = ascii_lower(c);
    return key;
}
