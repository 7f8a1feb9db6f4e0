#include "temporary_files.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <iterator>
#include <mutex>

namespace zelvan_demo {

namespace {

enum SlotState : int { kFree, kFilling, kRegistered };

struct Slot {
    std::atomic<int> state{kFree};
    char path[PATH_MAX];
};
static_assert(std::atomic<int>::is_always_lock_free, "the handler may only touch lock-free atomics");

// A conversion's levels and its joined file, a PNG's output, with room to spare.
Slot slots[32];
constexpr int kStoppingSignals[] = {SIGINT, SIGTERM, SIGHUP};

void removeAndStop(int signal) {
    for (Slot& slot : slots)
        if (slot.state.load(std::memory_order_acquire) == kRegistered) unlink(slot.path);
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigaction(signal, &fallback, nullptr);
    raise(signal);  // delivered as the handler returns, now with the default action
}

void installHandlers() {
    struct sigaction action {};
    action.sa_handler = removeAndStop;
    sigemptyset(&action.sa_mask);
    for (int signal : kStoppingSignals) sigaddset(&action.sa_mask, signal);
    for (int signal : kStoppingSignals) {
        struct sigaction current {};
        if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            sigaction(signal, &action, nullptr);
    }
}

}  // namespace

int registerTemporaryFile(const std::string& path) {
    static std::once_flag installed;
    std::call_once(installed, installHandlers);
    if (path.size() >= PATH_MAX) return -1;
    for (int i = 0; i < int(std::size(slots)); ++i) {
        int expected = kFree;
        if (!slots[i].state.compare_exchange_strong(expected, kFilling, std::memory_order_acquire)) continue;
        std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
        slots[i].state.store(kRegistered, std::memory_order_release);
        return i;
    }
    return -1;
}

void unregisterTemporaryFile(int slot) {
    if (slot >= 0) slots[slot].state.store(kFree, std::memory_order_release);
}

}  // namespace zelvan_demo
