// output_file.h: writing an output so that a failure never leaves a file
// cut short under its final name. Every write and the close are checked.
//
// A direct output is written under its final name, created or truncated (the
// classic programs' way); on failure what was written is removed. A
// temporary output is written beside its final name under a name of its
// own and renamed into place only when it is whole and closed; an
// interrupted run removes it.
#pragma once

#include <cstddef>
#include <string>

enum OutputStep {
    OUTPUT_OPEN,   // the file could not be created
    OUTPUT_WRITE,  // a write, the flush or the close failed
};

struct OutputError {
    OutputStep step = OUTPUT_OPEN;
    int error_number = 0;
};

struct OutputFile {
    OutputFile() = default;
    ~OutputFile();  // an output that was not finished is discarded
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    std::string name;  // the final name
    std::string path;  // where the bytes go until the output is finished
    int fd = -1;
    bool temporary = false;
    bool regular = false;  // only a regular file is ever removed, never a device
    bool finished = false;
    int tracked_slot = -1;
};

// Creates or truncates `name` (owner read and write, as the classic programs do).
bool open_direct_output(OutputFile &out, const std::string &name, OutputError &error);

// Creates a new temporary file in the folder of `name`.
bool open_temporary_output(OutputFile &out, const std::string &name, OutputError &error);

bool write_output(OutputFile &out, const void *data, size_t size, OutputError &error);

// With `sync`, flushes the data to the disk first; then closes, and renames
// a temporary output to its final name. On failure the output is discarded.
bool finish_output(OutputFile &out, bool sync, OutputError &error);

// finish_output in two steps, for outputs that are put in place later, in
// an order of their own: closing (with `sync`, after a flush), then renaming.
bool close_output(OutputFile &out, bool sync, OutputError &error);
bool commit_output(OutputFile &out, OutputError &error);

// Closes the output and removes what was written of it.
void discard_output(OutputFile &out);

// The whole of `data` as the file `name`, through a temporary file.
bool write_file_atomically(const std::string &name, const void *data, size_t size, OutputError &error);

// The system's text for the error, as messages show it.
std::string output_error_text(const OutputError &error);
