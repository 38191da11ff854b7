#include "output_file.h"

#include <atomic>
#include <cerrno>

#include "file_util.h"
#include "platform.h"

namespace {

std::atomic<unsigned> g_temporary_count{0};

// ".NAME.PID-N.tmp" in the folder of `name`: hidden, never a name that an
// output of ours ends in, and unique to this process and output.
std::string temporary_name_for(const std::string &name) {
    const size_t slash = name.find_last_of("/\\");
    const std::string folder = slash == std::string::npos ? "" : name.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    return folder + "." + base + "." + std::to_string(platform_process_id()) + "-" +
           std::to_string(g_temporary_count.fetch_add(1)) + ".tmp";
}

bool fail(OutputFile &out, OutputStep step, OutputError &error) {
    error.step = step;
    error.error_number = errno;
    discard_output(out);
    return false;
}

}  // namespace

OutputFile::~OutputFile() {
    if (!finished && !path.empty()) discard_output(*this);
}

bool open_direct_output(OutputFile &out, const std::string &name, OutputError &error) {
    out.name = name;
    out.path = name;
    out.temporary = false;
    out.fd = platform_open(name, OPEN_WRITE_FLAGS, OPEN_WRITE_MODE);
    if (out.fd == -1) return fail(out, OUTPUT_OPEN, error);
    out.regular = platform_is_regular_file(out.fd);
    return true;
}

bool open_temporary_output(OutputFile &out, const std::string &name, OutputError &error) {
    out.name = name;
    out.temporary = true;
    for (int attempt = 0; attempt < 100; ++attempt) {
        out.path = temporary_name_for(name);
        out.fd = platform_create_temporary(out.path, out.tracked_slot);
        if (out.fd != -1 || errno != EEXIST) break;  // EEXIST: a stale file of an earlier process with our number  // a stale file of an earlier process with our number
    }
    if (out.fd == -1) return fail(out, OUTPUT_OPEN, error);
    out.regular = true;
    return true;
}

bool write_output(OutputFile &out, const void *data, size_t size, OutputError &error) {
    if (size == 0 || platform_write(out.fd, data, size)) return true;
    return fail(out, OUTPUT_WRITE, error);
}

bool close_output(OutputFile &out, bool sync, OutputError &error) {
    if (sync && !platform_sync(out.fd)) return fail(out, OUTPUT_WRITE, error);
    const int fd = out.fd;
    out.fd = -1;
    if (!platform_close(fd)) return fail(out, OUTPUT_WRITE, error);
    return true;
}

bool commit_output(OutputFile &out, OutputError &error) {
    if (out.temporary && !platform_rename_replace(out.path, out.name)) return fail(out, OUTPUT_WRITE, error);
    platform_untrack_temporary(out.tracked_slot);
    out.tracked_slot = -1;
    out.finished = true;
    return true;
}

bool finish_output(OutputFile &out, bool sync, OutputError &error) {
    return close_output(out, sync, error) && commit_output(out, error);
}

void discard_output(OutputFile &out) {
    const int reason = errno;
    if (out.fd != -1) {
        platform_close(out.fd);
        out.fd = -1;
    }
    if (out.regular) platform_delete_file(out.path);
    out.regular = false;
    out.finished = true;  // nothing is left to discard
    platform_untrack_temporary(out.tracked_slot);
    out.tracked_slot = -1;
    errno = reason;
}

bool write_file_atomically(const std::string &name, const void *data, size_t size, OutputError &error) {
    OutputFile out;
    return open_temporary_output(out, name, error) && write_output(out, data, size, error) &&
           finish_output(out, false, error);
}

std::string output_error_text(const OutputError &error) { return platform_error_text(error.error_number); }
