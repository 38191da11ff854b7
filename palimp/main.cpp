// main.cpp: palimp <evinfo.bin> [-cleanup]
#include <cstring>
#include <new>

#include "fatal.h"
#include "merge.h"

int main(int argc, char **argv) {
    if (argc < 2) return print_palimp_usage(argc > 0 ? argv[0] : "palimp");
    const bool cleanup = argc > 2 && std::strcmp(argv[2], "-cleanup") == 0;
    try {
        return merge_events(argv[1], cleanup);
    } catch (const std::bad_alloc &) {
        fatal_out_of_memory();
    }
}
