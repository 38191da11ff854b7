// event_table.h: evinfo.bin.
//
//   0   4        record count, unsigned
//   4   84 x n   records: event_name[16], base_name[16], delta_name[16],
//                36 bytes the merger does not use
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t EVENT_RECORD_SIZE = 84;
constexpr uint32_t EVENT_NAME_SIZE = 16;
// The first count whose table would not fit in 32 bits.
constexpr uint32_t EVENT_COUNT_LIMIT = 51130564;

struct EventRecord {
    std::string event_name;
    std::string base_name;
    std::string delta_name;
};

enum EventTableStatus {
    TABLE_LOADED,
    TABLE_CANNOT_OPEN,  // errno tells why
    TABLE_TRUNCATED,    // shorter than its count says, or a count of EVENT_COUNT_LIMIT or more
};

// Reads the whole table in one read, without ending the run.
EventTableStatus load_event_table(const std::string &path, std::vector<uint8_t> &table, uint32_t &count);

// Reads the whole table in one read. A file shorter than its count says, or
// a count of EVENT_COUNT_LIMIT or more, prints "%s: truncated event table"
// and ends the run with status -1.
std::vector<uint8_t> read_event_table(const std::string &path, uint32_t &count);

// Decodes record `index`; names end at their first NUL or at 16 bytes.
EventRecord parse_event_record(const uint8_t *table, uint32_t index);
