// fatal.h: the one way a run ends early. Every fatal message is printed by
// its caller; this ends the process (or hands control to a test or fuzz
// harness that installed its own handler).
#pragma once

using FatalHandler = void (*)(int status);

// Installs `handler` (nullptr restores the default, std::exit). A handler
// that returns is followed by std::exit all the same.
void set_fatal_handler(FatalHandler handler);

// Ends the run with status -1.
[[noreturn]] void fatal_exit();

// Prints "out of memory" and ends the run with status -1; for allocation
// failures, so that no further file is written and nothing is deleted.
[[noreturn]] void fatal_out_of_memory();
