// merge.h: the merge driver of palimp.
#pragma once

#include <string>

// Prints the banner, the usage line and the option line; returns -1.
int print_palimp_usage(const char *program);

// Merges every record of the event table at `table_path` in the current
// directory; with `cleanup`, deletes the used delta files after the last
// record. Returns 0 after the last record; fatal faults end the run instead.
int merge_events(const std::string &table_path, bool cleanup);
