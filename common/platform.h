// platform.h: the only place that knows which operating system we run on.
// Everything else calls these functions with narrow byte-string names, which
// reach the system unchanged, unless the program has asked for UTF-8 names
// (platform_use_utf8_names). None of them prints.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

// From this call on, every name passed to these functions or handed out by
// them is UTF-8, and reaches the system as the Unicode name it spells (on
// Windows through the wide-character calls; POSIX names are bytes anyway, so
// nothing changes there). The program calls it once, before anything else;
// without it names are passed to the system byte for byte.
void platform_use_utf8_names();

// Whether file names are byte strings (POSIX): a name that is text in no
// code page can then be a file name as it is stored. On Windows names are
// Unicode.
bool platform_names_are_bytes();

// The program's arguments after its own name, in UTF-8, for a program that
// uses UTF-8 names: on Windows read from the wide command line (in a file of
// its own, so that the classic programs do not load the system's shell
// library for it); elsewhere as the system gave them.
std::vector<std::string> platform_arguments(int argc, char **argv);

// Writes text to standard output or standard error. After
// platform_use_utf8_names the text is UTF-8, and a Windows console gets it
// as wide characters; anywhere else the bytes go out as they are.
void platform_write_text(std::FILE *stream, const std::string &text);

// The code pages of names stored in archives and event tables, as the
// system's own conversion tables have them (Windows' code pages 932 and 936).
enum CodePage { CODE_PAGE_CP932, CODE_PAGE_GBK };

// Decodes `bytes` into UTF-8; false when they are not text in the code page
// (or the system has no table for it). Encodes UTF-8 text into the code
// page; false when a character has no exact equivalent there (no best-fit
// stand-ins: "¥" is not a backslash).
bool platform_decode_name(const std::string &bytes, CodePage code_page, std::string &utf8);
bool platform_encode_name(const std::string &utf8, CodePage code_page, std::string &bytes);

// Opens `name` with the runtime library's flag word and permission argument
// (0x8000 read; 0x8301 write, create, truncate with 0x180). Returns the
// descriptor, or -1 with errno set.
int platform_open(const std::string &name, int flags, int mode);

// Reads up to `count` bytes, retrying short reads until the count is reached
// or the file ends. Returns the number of bytes read (0 on error).
size_t platform_read(int fd, void *buffer, size_t count);

// Writes `count` bytes, retrying short writes. False with errno set when
// the system refuses a write, or writes nothing more (ENOSPC then).
bool platform_write(int fd, const void *buffer, size_t count);

// Flushes the file's data to the disk. A file that cannot be flushed by its
// nature (a device, a pipe) counts as flushed. False with errno set.
bool platform_sync(int fd);

// Moves the file position to `position` bytes from the start.
bool platform_seek(int fd, uint64_t position);

// Size of the open file in bytes, or -1 when it has none (a pipe, a device).
int64_t platform_file_size(int fd);

// Closes the descriptor; false with errno set when the close reports an
// error (data that never reached the disk, on some file systems).
bool platform_close(int fd);

// Whether the open file is a regular file (not a device, pipe or folder).
bool platform_is_regular_file(int fd);

// Creates `name` for writing; it must not exist yet. Permissions are the
// usual ones for a user's file. Returns the descriptor, or -1 with errno set.
int platform_create_new(const std::string &name);

// Renames `from` to `to`, replacing a file `to` if there is one. False with
// errno set.
bool platform_rename_replace(const std::string &from, const std::string &to);

// What a path names, without following a final link (a link of any kind,
// a device or a pipe is PATH_OTHER).
enum PathKind { PATH_NONE, PATH_FILE, PATH_FOLDER, PATH_OTHER };
PathKind platform_path_kind(const std::string &path);

// Whether two paths name the same file or folder (through links, other
// spellings, other case where names ignore it).
bool platform_same_file(const std::string &a, const std::string &b);

// Creates one folder; false with errno set (EEXIST when the name is taken).
bool platform_make_folder(const std::string &path);

// Whether the descriptor is a terminal (a console on Windows).
bool platform_is_terminal(int fd);

// Whether the console was opened for this run alone (a program started
// from a file manager), so that it closes when the run ends.
bool platform_console_is_ours_alone();

// Waits until a key is pressed on the console.
void platform_wait_for_key();

// Lets the allocator keep large freed blocks for the next allocation
// instead of handing them back to the system at once, so that buffers of
// picture size do not cost fresh pages (and their faults) every time.
void platform_reuse_large_blocks();

// A buffer for megabytes of pixels or packed bytes, not cleared. Where the
// system has huge pages, one of 1 MiB or more is mapped on its own, on whole
// huge pages, and asks for them to be huge: filling it then costs one fault
// for 2 MiB instead of 512. (Taken from the heap, its first and last huge
// pages would share 4 KiB pages with small blocks and could never be huge.)
// `capacity` is set to the usable size, at least `size`. Throws
// std::bad_alloc.
struct LargeBufferFree {
    size_t mapped = 0;  // the size of its own mapping; 0: from the heap
    void operator()(uint8_t *block) const;
};
using LargeBuffer = std::unique_ptr<uint8_t[], LargeBufferFree>;
LargeBuffer platform_allocate_large_buffer(size_t size, size_t &capacity);

// The process's identifier, for names that other processes must not share.
unsigned long platform_process_id();

// Temporary files that an interrupted run (Ctrl-C, a kill signal, a closed
// console) removes before it ends. platform_create_temporary creates a new
// file as platform_create_new does and tracks it; `slot` is for untracking,
// -1 when every slot is taken (the file is then only removed normally). A
// thread that would create one while an interrupt's clean-up runs waits for
// the end instead. platform_remove_temporaries_on_interrupt installs the
// handler once.
int platform_create_temporary(const std::string &path, int &slot);
void platform_untrack_temporary(int slot);
void platform_remove_temporaries_on_interrupt();

// The system's text for an errno value.
std::string platform_error_text(int error);

// An archive entry name as a path of this system: archives were made on
// Windows, so a stored '\' is a directory separator here.
std::string platform_native_path(const std::string &stored);

// The file names of a folder, listed once so that a run's many searches do
// not each read the whole folder. The caller keeps it true: every file it
// creates there it adds with platform_index_add. Where the system's own
// search is indexed (Windows), the list stays empty and the system is asked.
struct FolderIndex {
    std::string folder;  // "" for the current directory
    int error = 0;       // errno when the folder cannot be read; it then holds nothing
    // (ASCII-lowercased name, name); directories are left out.
    std::set<std::pair<std::string, std::string>> files;
};
FolderIndex platform_index_folder(const std::string &folder);
void platform_index_add(FolderIndex &index, const std::string &name);

// Searches the folder for a picture file named after `name`:
//   FIND_EXACT:  name + extensions[0]
//   FIND_PLACED: a name that starts with name + "+" and ends in one of
//                `extensions` (lower case, matched without regard to case)
// Sets *found to the file's name as the folder holds it, without the folder.
enum FindMode { FIND_EXACT, FIND_PLACED };
bool platform_find_file(const FolderIndex &index, const std::string &name, FindMode mode,
                        const std::vector<std::string> &extensions, std::string *found);

// The entries of a folder, "." and ".." left out, each with what it names:
// PATH_FILE for a file or a link to one, PATH_FOLDER for a folder (not a
// link to one), PATH_OTHER for the rest. False with errno set when the
// folder cannot be listed.
struct FolderEntry {
    std::string name;
    PathKind kind;
};
bool platform_list_folder(const std::string &folder, std::vector<FolderEntry> &entries);

// Deletes a file by its name; false with errno set when it could not.
bool platform_delete_file(const std::string &name);

// A key under which two spellings of one directory entry's name compare
// equal: the name itself where names are case-sensitive; on Windows the
// name in upper case (ASCII letters only, for narrow names).
std::string platform_file_name_key(const std::string &name);
