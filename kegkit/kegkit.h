// kegkit.h: the commands of kegkit, each taking the words of the command
// line after its name and returning the exit status (cli.h).
#pragma once

#include <string>
#include <vector>

int run_extract_command(const std::vector<std::string> &words);
int run_merge_command(const std::vector<std::string> &words);
int run_list_command(const std::vector<std::string> &words);
int run_convert_command(const std::vector<std::string> &words);
int run_create_command(const std::vector<std::string> &words);
int run_repack_command(const std::vector<std::string> &words);
int run_events_command(const std::vector<std::string> &words);

// Archives dropped on the program: each extracted as PNG beside itself.
int run_dropped_archives(const std::vector<std::string> &archives);
