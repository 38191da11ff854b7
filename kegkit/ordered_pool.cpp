#include "ordered_pool.h"

#include <algorithm>
#include <exception>

namespace {

Commit run_work(Work &work) {
    try {
        return work();
    } catch (...) {
        return rethrow_commit(std::current_exception());
    }
}

void worker_loop(OrderedPool &pool) {
    std::unique_lock<std::mutex> guard(pool.lock);
    for (;;) {
        pool.work_ready.wait(guard, [&] { return pool.stopping || !pool.queue.empty(); });
        if (pool.queue.empty()) return;  // stopping
        auto [sequence, work] = std::move(pool.queue.front());
        pool.queue.pop_front();
        ++pool.running;
        guard.unlock();
        Commit commit = run_work(work);
        work = nullptr;  // its buffers go before the next piece starts
        guard.lock();
        --pool.running;
        pool.finished.emplace(sequence, std::move(commit));
        pool.work_done.notify_all();
    }
}

// Takes the next commit if it is ready; the lock is held.
bool take_ready(OrderedPool &pool, Commit &commit) {
    const auto it = pool.finished.find(pool.next_commit);
    if (it == pool.finished.end()) return false;
    commit = std::move(it->second);
    pool.finished.erase(it);
    ++pool.next_commit;
    return true;
}

// Commits what is ready; true when it committed anything. Takes the lock.
bool commit_some(OrderedPool &pool, std::unique_lock<std::mutex> &guard) {
    bool any = false;
    Commit commit;
    while (take_ready(pool, commit)) {
        guard.unlock();
        if (commit) commit();
        commit = nullptr;
        guard.lock();
        any = true;
    }
    return any;
}

}  // namespace

// Without threads (the browser build has none) all work runs on the caller's thread.
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
constexpr unsigned MAX_THREADS = 1;
#else
constexpr unsigned MAX_THREADS = 256;
#endif

OrderedPool::OrderedPool(unsigned threads) : thread_count(std::clamp(threads, 1u, MAX_THREADS)) {
    max_in_flight = thread_count + 1;
    max_uncommitted = 4 * uint64_t{thread_count} + 4;
    if (thread_count > 1)
        for (unsigned i = 0; i < thread_count; ++i) workers.emplace_back(worker_loop, std::ref(*this));
}

OrderedPool::~OrderedPool() {
    cancel_pool(*this);
    {
        const std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    work_ready.notify_all();
    for (std::thread &t : workers) t.join();
}

Commit rethrow_commit(std::exception_ptr error) {
    return [error] { std::rethrow_exception(error); };
}

void give_work(OrderedPool &pool, Work work) {
    if (pool.workers.empty()) {
        Commit commit = run_work(work);
        work = nullptr;
        give_commit(pool, std::move(commit));
        return;
    }
    std::unique_lock<std::mutex> guard(pool.lock);
    for (;;) {
        const bool room = pool.queue.size() + pool.running < pool.max_in_flight &&
                          pool.next_given - pool.next_commit < pool.max_uncommitted;
        if (room) break;
        if (!commit_some(pool, guard)) pool.work_done.wait(guard);
    }
    pool.queue.emplace_back(pool.next_given++, std::move(work));
    pool.work_ready.notify_one();
}

void give_commit(OrderedPool &pool, Commit commit) {
    std::unique_lock<std::mutex> guard(pool.lock);
    pool.finished.emplace(pool.next_given++, std::move(commit));
    commit_some(pool, guard);
}

void commit_ready(OrderedPool &pool) {
    std::unique_lock<std::mutex> guard(pool.lock);
    commit_some(pool, guard);
}

void commit_all(OrderedPool &pool) {
    std::unique_lock<std::mutex> guard(pool.lock);
    while (pool.next_commit < pool.next_given)
        if (!commit_some(pool, guard)) pool.work_done.wait(guard);
}

void cancel_pool(OrderedPool &pool) {
    std::deque<std::pair<uint64_t, Work>> dropped;
    std::map<uint64_t, Commit> unmade;
    {
        std::unique_lock<std::mutex> guard(pool.lock);
        dropped.swap(pool.queue);
        pool.work_done.wait(guard, [&] { return pool.running == 0; });
        unmade.swap(pool.finished);
        pool.next_commit = pool.next_given;
    }
    // Destroyed here, outside the lock.
}
