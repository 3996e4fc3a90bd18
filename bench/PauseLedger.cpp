// Preloaded into the tool by PcCardBench: adds up the pauses the main thread asks for, that is
// its sleeps and its timed waits that run out (the waits for a reply that never comes are
// prescribed too), both as asked and as they took; writes the sums at exit to the file that
// ORV_PAUSE_LEDGER names. The other threads' waits (a card's receive thread) are not pauses
// of the run.
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

std::atomic<int64_t> askedNs{0};
std::atomic<int64_t> tookNs{0};
std::atomic<int64_t> pauses{0};

int64_t Ns(const timespec& t) {
    return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

int64_t NowNs(clockid_t clock) {
    timespec now;
    clock_gettime(clock, &now);
    return Ns(now);
}

bool OnMainThread() {
    return gettid() == getpid();
}

void Book(int64_t asked, int64_t startNs) {
    askedNs += asked > 0 ? asked : 0;
    tookNs += NowNs(CLOCK_MONOTONIC) - startNs;
    ++pauses;
}

template <typename Function>
Function Next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

struct Report {
    ~Report() {
        const char* path = std::getenv("ORV_PAUSE_LEDGER");
        if (path == nullptr) {
            return;
        }
        if (FILE* out = std::fopen(path, "w")) {
            std::fprintf(out, "%lld %lld %lld\n", static_cast<long long>(askedNs / 1000),
                         static_cast<long long>(tookNs / 1000),
                         static_cast<long long>(pauses.load()));
            std::fclose(out);
        }
    }
} report;

}  // namespace

extern "C" int nanosleep(const timespec* request, timespec* remaining) {
    static const auto real = Next<int (*)(const timespec*, timespec*)>("nanosleep");
    if (!OnMainThread()) {
        return real(request, remaining);
    }
    const int64_t start = NowNs(CLOCK_MONOTONIC);
    const int result = real(request, remaining);
    Book(Ns(*request), start);
    return result;
}

extern "C" int clock_nanosleep(clockid_t clock, int flags, const timespec* request,
                               timespec* remaining) {
    static const auto real =
        Next<int (*)(clockid_t, int, const timespec*, timespec*)>("clock_nanosleep");
    if (!OnMainThread()) {
        return real(clock, flags, request, remaining);
    }
    const int64_t start = NowNs(CLOCK_MONOTONIC);
    const int64_t asked = (flags & TIMER_ABSTIME) != 0 ? Ns(*request) - NowNs(clock) : Ns(*request);
    const int result = real(clock, flags, request, remaining);
    Book(asked, start);
    return result;
}

extern "C" int pthread_cond_clockwait(pthread_cond_t* condition, pthread_mutex_t* mutex,
                                      clockid_t clock, const timespec* deadline) {
    static const auto real =
        Next<int (*)(pthread_cond_t*, pthread_mutex_t*, clockid_t, const timespec*)>(
            "pthread_cond_clockwait");
    if (!OnMainThread()) {
        return real(condition, mutex, clock, deadline);
    }
    const int64_t start = NowNs(CLOCK_MONOTONIC);
    const int64_t asked = Ns(*deadline) - NowNs(clock);
    const int result = real(condition, mutex, clock, deadline);
    if (result == ETIMEDOUT) {
        Book(asked, start);
    }
    return result;
}

extern "C" int pthread_cond_timedwait(pthread_cond_t* condition, pthread_mutex_t* mutex,
                                      const timespec* deadline) {
    static const auto real =
        Next<int (*)(pthread_cond_t*, pthread_mutex_t*, const timespec*)>("pthread_cond_timedwait");
    if (!OnMainThread()) {
        return real(condition, mutex, deadline);
    }
    const int64_t start = NowNs(CLOCK_MONOTONIC);
    const int64_t asked = Ns(*deadline) - NowNs(CLOCK_REALTIME);
    const int result = real(condition, mutex, deadline);
    if (result == ETIMEDOUT) {
        Book(asked, start);
    }
    return result;
}
