// main.cpp: one kegsplit program; KEGSPLIT_LAYOUT names its archive revision.
#include <new>

#include "extract.h"
#include "fatal.h"
#include "platform.h"

int main(int argc, char **argv) {
    if (argc != 2) return print_usage(argc > 0 ? argv[0] : "kegsplit", KEGSPLIT_LAYOUT);
    platform_reuse_large_blocks();
    try {
        return extract_archive(argv[1], KEGSPLIT_LAYOUT);
    } catch (const std::bad_alloc &) {
        fatal_out_of_memory();
    }
}
