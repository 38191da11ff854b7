// platform_windows.cpp: the platform layer for Windows, on the C runtime's
// descriptor calls and the file-search and delete calls: the narrow (ANSI)
// ones that pass names byte for byte, or, once a program has asked for UTF-8
// names, the wide ones, so that any name the system can hold works whatever
// the system's language.
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

// Set once by platform_use_utf8_names, before any other call.
bool g_utf8_names = false;

// UTF-8 to UTF-16 and back. A sequence that is not UTF-8 becomes U+FFFD,
// which no file is named with: such a name is then simply not found.
std::wstring wide(const std::string &utf8) {
    if (utf8.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
    return w;
}

std::string narrow(const wchar_t *text, size_t size) {
    if (size == 0) return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), s.data(), n, nullptr, nullptr);
    return s;
}

std::string narrow(const std::wstring &text) { return narrow(text.data(), text.size()); }

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

// The same for wide names, without regard to case as the file system sees it.
bool same_ignoring_case(const wchar_t *a, const wchar_t *b, size_t n) {
    return n == 0 || CompareStringOrdinal(a, static_cast<int>(n), b, static_cast<int>(n), TRUE) == CSTR_EQUAL;
}

bool accepted_wide(const std::wstring &found, bool directory, const std::wstring &name, FindMode mode,
                   const std::vector<std::string> &extensions) {
    if (directory) return false;
    if (mode == FIND_EXACT) {
        const std::wstring exact = name + wide(extensions[0]);
        return found.size() == exact.size() && same_ignoring_case(found.data(), exact.data(), exact.size());
    }
    const std::wstring prefix = name + L"+";
    if (found.size() < prefix.size() || !same_ignoring_case(found.data(), prefix.data(), prefix.size())) return false;
    for (const std::string &e : extensions) {
        const std::wstring ext = wide(e);
        if (found.size() >= prefix.size() + ext.size() &&
            same_ignoring_case(found.data() + found.size() - ext.size(), ext.data(), ext.size()))
            return true;
    }
    return false;
}

int errno_of_last_error() {
    const DWORD code = GetLastError();
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? ENOENT
           : code == ERROR_ACCESS_DENIED                                ? EACCES
           : code == ERROR_DIRECTORY                                    ? ENOTDIR
           : code == ERROR_NOT_ENOUGH_MEMORY                            ? ENOMEM
                                                                        : EIO;
}

}  // namespace

void platform_use_utf8_names() { g_utf8_names = true; }

bool platform_names_are_bytes() { return false; }

void platform_write_text(std::FILE *stream, const std::string &text) {
    if (g_utf8_names) {
        const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
        DWORD mode;
        if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
            std::fflush(stream);
            const std::wstring w = wide(text);
            DWORD written = 0;
            WriteConsoleW(handle, w.data(), static_cast<DWORD>(w.size()), &written, nullptr);
            return;
        }
    }
    std::fwrite(text.data(), 1, text.size(), stream);
}

namespace {

UINT windows_code_page(CodePage code_page) { return code_page == CODE_PAGE_CP932 ? 932 : 936; }

}  // namespace

bool platform_decode_name(const std::string &bytes, CodePage code_page, std::string &utf8) {
    utf8.clear();
    if (bytes.empty()) return true;
    const UINT cp = windows_code_page(code_page);
    const int n =
        MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (n <= 0) return false;
    std::wstring w(static_cast<size_t>(n), L'\0');
    if (MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), w.data(), n) != n)
        return false;
    utf8 = narrow(w);
    return true;
}

bool platform_encode_name(const std::string &utf8, CodePage code_page, std::string &bytes) {
    bytes.clear();
    if (utf8.empty()) return true;
    // Text that is not UTF-8 encodes to nothing.
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0) <= 0)
        return false;
    const std::wstring w = wide(utf8);
    const UINT cp = windows_code_page(code_page);
    BOOL defaulted = FALSE;
    const int n = WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                      nullptr, &defaulted);
    if (n <= 0 || defaulted) return false;
    bytes.assign(static_cast<size_t>(n), '\0');
    if (WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, w.data(), static_cast<int>(w.size()), bytes.data(), n, nullptr,
                            &defaulted) != n ||
        defaulted)
        return false;
    // Only a code that decodes to the same text counts.
    std::string back;
    return platform_decode_name(bytes, code_page, back) && back == utf8;
}

int platform_open(const std::string &name, int flags, int mode) {
    if (g_utf8_names) return _wopen(wide(name).c_str(), flags, mode);
    return _open(name.c_str(), flags, mode);
}

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
    const int flags = _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT;
    if (g_utf8_names) return _wopen(wide(name).c_str(), flags, _S_IREAD | _S_IWRITE);
    return _open(name.c_str(), flags, _S_IREAD | _S_IWRITE);
}

bool platform_rename_replace(const std::string &from, const std::string &to) {
    const BOOL moved = g_utf8_names ? MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING)
                                    : MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING);
    if (moved) return true;
    const DWORD code = GetLastError();
    errno = code == ERROR_ACCESS_DENIED ? EACCES : code == ERROR_DISK_FULL ? ENOSPC
          : code == ERROR_PATH_NOT_FOUND ? ENOENT : EIO;
    return false;
}

PathKind platform_path_kind(const std::string &path) {
    const DWORD attributes = g_utf8_names ? GetFileAttributesW(wide(path).c_str()) : GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return PATH_NONE;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return PATH_OTHER;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PATH_FOLDER;
    return PATH_FILE;
}

namespace {

bool file_identity(const std::string &path, BY_HANDLE_FILE_INFORMATION &info) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE h =
        g_utf8_names
            ? CreateFileW(wide(path).c_str(), 0, share, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)
            : CreateFileA(path.c_str(), 0, share, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
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

bool platform_make_folder(const std::string &path) {
    return (g_utf8_names ? _wmkdir(wide(path).c_str()) : _mkdir(path.c_str())) == 0;
}

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
    temporary_registry::remove_all(
        [](const char *path) {
            if (!g_utf8_names) {
                DeleteFileA(path);
                return;
            }
            // No allocation here: the handler may run while another thread holds the heap.
            static wchar_t name[temporary_registry::PATH_BYTES];
            if (MultiByteToWideChar(CP_UTF8, 0, path, -1, name, static_cast<int>(temporary_registry::PATH_BYTES)) > 0)
                DeleteFileW(name);
        },
        [] { Sleep(1); });
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
    if (!folder.empty()) {
        const DWORD attributes =
            g_utf8_names ? GetFileAttributesW(wide(folder).c_str()) : GetFileAttributesA(folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            index.error = errno_of_last_error();
        else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
            index.error = ENOTDIR;
    }
    return index;
}

void platform_index_add(FolderIndex &index, const std::string &name) {
    index.files.emplace(platform_file_name_key(name), name);
}

namespace {

bool find_file_wide(const FolderIndex &index, const std::string &name, FindMode mode,
                    const std::vector<std::string> &extensions, std::string *found) {
    const std::string where = index.folder.empty() ? "" : index.folder + "\\";
    const std::string pattern = where + (mode == FIND_EXACT       ? name + extensions[0]
                                         : extensions.size() == 1 ? name + "+*" + extensions[0]
                                                                  : name + "+*");
    const std::wstring wide_name = wide(name);
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(wide(pattern).c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        bool have = false;
        do {
            if (accepted_wide(entry.cFileName, entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, wide_name, mode,
                              extensions)) {
                *found = narrow(entry.cFileName, wcslen(entry.cFileName));
                have = true;
                break;
            }
        } while (FindNextFileW(search, &entry));
        FindClose(search);
        if (have) return true;
    }
    for (const auto &[key, added] : index.files) {
        if (accepted_wide(wide(added), false, wide_name, mode, extensions)) {
            *found = added;
            return true;
        }
    }
    return false;
}

}  // namespace

bool platform_find_file(const FolderIndex &index, const std::string &name, FindMode mode,
                        const std::vector<std::string> &extensions, std::string *found) {
    if (g_utf8_names) return find_file_wide(index, name, mode, extensions, found);
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

bool platform_list_folder(const std::string &folder, std::vector<FolderEntry> &entries) {
    const std::string pattern = (folder.empty() ? std::string(".") : folder) + "\\*";
    auto kind_of = [](DWORD attributes) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            return attributes & FILE_ATTRIBUTE_REPARSE_POINT ? PATH_OTHER : PATH_FOLDER;
        return PATH_FILE;
    };
    auto listed = [&](const std::string &name, DWORD attributes) {
        if (name != "." && name != "..") entries.push_back({name, kind_of(attributes)});
    };
    HANDLE search;
    if (g_utf8_names) {
        WIN32_FIND_DATAW entry;
        search = FindFirstFileW(wide(pattern).c_str(), &entry);
        if (search == INVALID_HANDLE_VALUE) {
            errno = platform_path_kind(folder) == PATH_FILE ? ENOTDIR : errno_of_last_error();
            return false;
        }
        do listed(narrow(entry.cFileName, wcslen(entry.cFileName)), entry.dwFileAttributes);
        while (FindNextFileW(search, &entry));
    } else {
        WIN32_FIND_DATAA entry;
        search = FindFirstFileA(pattern.c_str(), &entry);
        if (search == INVALID_HANDLE_VALUE) {
            errno = platform_path_kind(folder) == PATH_FILE ? ENOTDIR : errno_of_last_error();
            return false;
        }
        do listed(entry.cFileName, entry.dwFileAttributes);
        while (FindNextFileA(search, &entry));
    }
    const DWORD ended = GetLastError();
    FindClose(search);
    if (ended != ERROR_NO_MORE_FILES) {
        errno = EIO;
        return false;
    }
    return true;
}

bool platform_delete_file(const std::string &name) {
    if (g_utf8_names ? DeleteFileW(wide(name).c_str()) : DeleteFileA(name.c_str())) return true;
    const DWORD code = GetLastError();
    errno = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
    return false;
}

std::string platform_file_name_key(const std::string &name) {
    if (g_utf8_names) {
        // Upper case by the file system's rules, as names are matched on the disk.
        std::wstring w = wide(name);
        if (!w.empty())
            LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, w.data(), static_cast<int>(w.size()), w.data(),
                          static_cast<int>(w.size()), nullptr, nullptr, 0);
        return narrow(w);
    }
    std::string key = name;
    for (char &c : key) c = ascii_lower(c);
    return key;
}
