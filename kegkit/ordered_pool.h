// ordered_pool.h: work done on N threads whose results are taken in the
// order the work was given. Each piece of work returns a commit: what is to
// happen on the caller's thread once every earlier commit has happened
// (printing its messages, putting its file in place). So the files and the
// messages of a run are the same for any number of threads.
//
// Memory stays bounded: at most `threads` + 1 pieces of work are queued or
// running at a time, and a bounded number of commits wait for their turn.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

using Commit = std::function<void()>;
using Work = std::function<Commit()>;

struct OrderedPool {
    // With one thread, work runs at once on the caller's thread.
    explicit OrderedPool(unsigned threads);
    ~OrderedPool();  // drops what is not committed yet (see cancel)
    OrderedPool(const OrderedPool &) = delete;
    OrderedPool &operator=(const OrderedPool &) = delete;

    unsigned thread_count;
    size_t max_in_flight;     // queued or running
    uint64_t max_uncommitted;  // given but not committed

    std::mutex lock;
    std::condition_variable work_ready;
    std::condition_variable work_done;
    std::deque<std::pair<uint64_t, Work>> queue;
    std::map<uint64_t, Commit> finished;
    uint64_t next_given = 0;
    uint64_t next_commit = 0;
    size_t running = 0;
    bool stopping = false;
    std::vector<std::thread> workers;
};

// Gives `work` to the pool. Waits while the pool is full, committing what
// is ready meanwhile. A commit that throws stops here and throws on.
void give_work(OrderedPool &pool, Work work);

// Gives a commit that needs no work (a message in its place in the order).
void give_commit(OrderedPool &pool, Commit commit);

// Commits what is ready, in order, without waiting.
void commit_ready(OrderedPool &pool);

// Waits for all work given so far and commits it.
void commit_all(OrderedPool &pool);

// Drops the queued work, waits for the running work, and destroys every
// commit not made, so that whatever they hold (temporary files) goes.
void cancel_pool(OrderedPool &pool);

// A commit for work that threw: throws the same on the caller's thread.
Commit rethrow_commit(std::exception_ptr error);
