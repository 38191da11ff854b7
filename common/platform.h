// platform.h: the only place that knows which operating system we run on.
// Everything else calls these functions with narrow byte-string names, which
// reach the system unchanged. None of them prints.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <utility>

// Opens `name` with the runtime library's flag word and permission argument
// (0x8000 read; 0x8301 write, create, truncate with 0x180). Returns the
// descriptor, or -1 with errno set.
int platform_open(const std::string &name, int flags, int mode);

// Reads up to `count` bytes, retrying short reads until the count is reached
// or the file ends. Returns the number of bytes read (0 on error).
size_t platform_read(int fd, void *buffer, size_t count);

// Writes `count` bytes, retrying short writes; errors end the attempt quietly.
void platform_write(int fd, const void *buffer, size_t count);

// Moves the file position to `position` bytes from the start.
bool platform_seek(int fd, uint64_t position);

// Size of the open file in bytes, or -1 when it has none (a pipe, a device).
int64_t platform_file_size(int fd);

void platform_close(int fd);

// The system's text for an errno value.
std::string platform_error_text(int error);

// An archive entry name as a path of this system: archives were made on
// Windows, so a stored '\' is a directory separator here.
std::string platform_native_path(const std::string &stored);

// The file names of the current directory, listed once so that a run's many
// searches do not each read the whole directory. The caller keeps it true:
// every file it creates there it adds with platform_index_add. Where the
// system's own search is indexed (Windows), the list stays empty.
struct FolderIndex {
    // (ASCII-lowercased name, name); directories are left out.
    std::set<std::pair<std::string, std::string>> files;
};
FolderIndex platform_index_folder();
void platform_index_add(FolderIndex &index, const std::string &name);

// Searches the current directory for a bitmap file named after `name`:
//   FIND_EXACT:  name + ".bmp"
//   FIND_PLACED: a name that starts with name + "+" and ends in ".bmp"
// Sets *found to the file's name as the directory holds it.
enum FindMode { FIND_EXACT, FIND_PLACED };
bool platform_find_file(const FolderIndex &index, const std::string &name, FindMode mode, std::string *found);

// Deletes a file by its bare name; the result is of no interest to callers.
void platform_delete_file(const std::string &name);

// A key under which two spellings of one directory entry's name compare
// equal: the name itself where names are case-sensitive.
std::string platform_file_name_key(const std::string &name);
