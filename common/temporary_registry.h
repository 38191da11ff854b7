// temporary_registry.h: the temporary files of this process that an
// interrupt handler removes. Used by the platform files only. A handler may
// run at any moment on any thread, so the table is fixed in size, takes no
// lock and holds plain character arrays.
#pragma once

#include <atomic>
#include <cstring>
#include <string>

namespace temporary_registry {

constexpr int SLOTS = 256;
constexpr size_t PATH_BYTES = 4096;

enum SlotState { SLOT_FREE, SLOT_FILLING, SLOT_TRACKED };

struct Slot {
    std::atomic<int> state{SLOT_FREE};
    char path[PATH_BYTES] = {};
};

// Constant-initialized: all zero in the image, no start-up code touching its megabyte.
inline constinit Slot g_slots[SLOTS];

inline int track(const std::string &path) {
    if (path.size() >= PATH_BYTES) return -1;
    for (int i = 0; i < SLOTS; ++i) {
        int expected = SLOT_FREE;
        if (!g_slots[i].state.compare_exchange_strong(expected, SLOT_FILLING)) continue;
        std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
        g_slots[i].state.store(SLOT_TRACKED);
        return i;
    }
    return -1;
}

// Files on their way to being created and tracked. Once an interrupt's
// clean-up has begun (`g_ending`), no creation starts, and the clean-up waits
// for those under way: a file created just after its pass would outlive it.
inline std::atomic<bool> g_ending{false};
inline std::atomic<int> g_creating{0};

// False when the clean-up has begun: the caller then creates nothing.
inline bool begin_creating() {
    g_creating.fetch_add(1);
    if (!g_ending.load()) return true;
    g_creating.fetch_sub(1);
    return false;
}

inline void end_creating() { g_creating.fetch_sub(1); }

inline void untrack(int slot) {
    if (slot >= 0 && slot < SLOTS) g_slots[slot].state.store(SLOT_FREE);
}

// Calls remove(path) for every tracked file; for the interrupt handler.
// Waits, calling pause() (a millisecond or so), for creations under way, but
// not for ever: a thread stopped in the middle of one must not hang the end.
template <typename Remove, typename Pause>
void remove_all(Remove remove, Pause pause) {
    g_ending.store(true);
    for (int waited = 0; g_creating.load() > 0 && waited < 2000; ++waited) pause();
    for (Slot &slot : g_slots)
        if (slot.state.load() == SLOT_TRACKED) remove(slot.path);
}

}  // namespace temporary_registry
