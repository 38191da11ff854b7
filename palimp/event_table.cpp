#include "event_table.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "byte_order.h"
#include "fatal.h"
#include "file_util.h"
#include "platform.h"

namespace {

std::string name_field(const uint8_t *field) {
    const auto *text = reinterpret_cast<const char *>(field);
    const void *nul = std::memchr(text, 0, EVENT_NAME_SIZE);
    return std::string(text, nul ? static_cast<size_t>(static_cast<const char *>(nul) - text) : EVENT_NAME_SIZE);
}

[[noreturn]] void truncated_table(const std::string &path) {
    std::fprintf(stderr, "%s: truncated event table\n", path.c_str());
    fatal_exit();
}

}  // namespace

EventTableStatus load_event_table(const std::string &path, std::vector<uint8_t> &table, uint32_t &count) {
    const int fd = platform_open(path, OPEN_READ_FLAGS, 0);
    if (fd == -1) return TABLE_CANNOT_OPEN;
    const ScopedFile file(fd);
    const int64_t file_size = platform_file_size(fd);
    uint8_t count_bytes[4];
    if (file_size < 4 || platform_read(fd, count_bytes, 4) != 4) return TABLE_TRUNCATED;
    count = read_le32(count_bytes);
    const uint64_t table_size = uint64_t{count} * EVENT_RECORD_SIZE;
    if (count >= EVENT_COUNT_LIMIT || table_size > static_cast<uint64_t>(file_size) - 4) return TABLE_TRUNCATED;
    table.resize(static_cast<size_t>(table_size));
    if (platform_read(fd, table.data(), table.size()) != table.size()) return TABLE_TRUNCATED;
    return TABLE_LOADED;
}

std::vector<uint8_t> read_event_table(const std::string &path, uint32_t &count) {
    std::vector<uint8_t> table;
    const EventTableStatus status = load_event_table(path, table, count);
    if (status == TABLE_CANNOT_OPEN) {
        const std::string reason = platform_error_text(errno);
        std::fprintf(stderr, "Could not open %s (%s)\n", path.c_str(), reason.c_str());
        fatal_exit();
    }
    if (status == TABLE_TRUNCATED) truncated_table(path);
    return table;
}

EventRecord parse_event_record(const uint8_t *table, uint32_t index) {
    const uint8_t *record = table + static_cast<size_t>(index) * EVENT_RECORD_SIZE;
    return EventRecord{name_field(record), name_field(record + EVENT_NAME_SIZE),
                       name_field(record + 2 * EVENT_NAME_SIZE)};
}
