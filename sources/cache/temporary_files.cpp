#include "temporary_files.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>

namespace zelvan {
namespace sources {
namespace detail {

namespace {

enum SlotState : int { kFree, kFilling, kRegistered };

struct Slot {
    std::atomic<int> state{kFree};
    char path[PATH_MAX];
};
static_assert(std::atomic<int>::is_always_lock_free, "the handler may only touch lock-free atomics");

// A pyramid's levels and its joined file, for a few pictures written at once, with room to spare.
Slot slots[64];
constexpr int kStoppingSignals[] = {SIGINT, SIGTERM, SIGHUP};
// What each stopping signal did before the handler was installed (written once, before it is).
struct sigaction before[std::size(kStoppingSignals)];

int indexOf(int signal) {
    for (int i = 0; i < int(std::size(kStoppingSignals)); ++i)
        if (kStoppingSignals[i] == signal) return i;
    return -1;
}

void removeAndGoOn(int signal, siginfo_t* info, void* context) {
    for (Slot& slot : slots)
        if (slot.state.load(std::memory_order_acquire) == kRegistered) unlink(slot.path);
    const int i = indexOf(signal);
    const struct sigaction& previous = before[i < 0 ? 0 : i];
    if ((previous.sa_flags & SA_SIGINFO) && previous.sa_sigaction != nullptr) {
        previous.sa_sigaction(signal, info, context);
    } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN &&
               previous.sa_handler != nullptr) {
        previous.sa_handler(signal);
    } else {
        struct sigaction fallback {};
        fallback.sa_handler = SIG_DFL;
        sigaction(signal, &fallback, nullptr);
        raise(signal);  // delivered as the handler returns, now with the default action
    }
}

void installHandlers() {
    struct sigaction action {};
    action.sa_sigaction = removeAndGoOn;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal : kStoppingSignals) sigaddset(&action.sa_mask, signal);
    for (int i = 0; i < int(std::size(kStoppingSignals)); ++i) {
        if (sigaction(kStoppingSignals[i], nullptr, &before[i]) != 0) continue;
        const bool ignored = !(before[i].sa_flags & SA_SIGINFO) && before[i].sa_handler == SIG_IGN;
        if (!ignored) sigaction(kStoppingSignals[i], &action, nullptr);
    }
}

}  // namespace

std::string partialPathFor(const std::string& path, const std::string& suffix) {
    static std::atomic<unsigned long> made{0};
    return path + ".partial-" + std::to_string(getpid()) + "-" + std::to_string(made.fetch_add(1)) + suffix;
}

pid_t partialFileWriter(const std::string& name) {
    const std::size_t at = name.rfind(".partial-");
    if (at == std::string::npos || at == 0) return 0;
    const char* text = name.c_str() + at + 9;
    if (!std::isdigit(static_cast<unsigned char>(*text))) return 0;
    char* end = nullptr;
    const long pid = std::strtol(text, &end, 10);
    const bool ending = *end == '\0' || *end == '-' || *end == '.';
    return ending && pid > 0 && pid <= INT_MAX ? pid_t(pid) : 0;
}

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
    if (slot >= 0 && slot < int(std::size(slots))) slots[slot].state.store(kFree, std::memory_order_release);
}

TemporaryFiles::~TemporaryFiles() {
    for (std::size_t i = 0; i < paths_.size(); ++i) {
        std::remove(paths_[i].c_str());
        unregisterTemporaryFile(slots_[i]);
    }
}

const std::string& TemporaryFiles::add(const std::string& path) {
    slots_.reserve(paths_.size() + 1);  // so that a registered slot is always kept
    paths_.reserve(paths_.size() + 1);
    const int slot = registerTemporaryFile(path);
    paths_.push_back(path);
    slots_.push_back(slot);
    return paths_.back();
}

bool TemporaryFiles::renameInto(const std::string& path, const std::string& to) {
    for (std::size_t i = 0; i < paths_.size(); ++i) {
        if (paths_[i] != path) continue;
        if (std::rename(path.c_str(), to.c_str()) != 0) return false;
        unregisterTemporaryFile(slots_[i]);
        paths_.erase(paths_.begin() + std::ptrdiff_t(i));
        slots_.erase(slots_.begin() + std::ptrdiff_t(i));
        return true;
    }
    return false;
}

}  // namespace detail
}  // namespace sources
}  // namespace zelvan
