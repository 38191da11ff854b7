#include "fatal.h"

#include <cstdio>
#include <cstdlib>

namespace {
FatalHandler g_handler = nullptr;
}

void set_fatal_handler(FatalHandler handler) { g_handler = handler; }

void fatal_exit() {
    if (g_handler) g_handler(-1);
    std::exit(-1);
}

void fatal_out_of_memory() {
    std::fprintf(stderr, "out of memory\n");
    fatal_exit();
}
