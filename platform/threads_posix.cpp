// CreateThread, SetThreadPriority and Sleep over pthreads.
#include "platform/threads.h"

#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <time.h>

namespace vinto {

// A handle is the pthread_t itself, so that creating a thread leaves nothing
// to release.
static_assert(sizeof(pthread_t) <= sizeof(HANDLE), "a pthread_t fits in a handle");

namespace {

struct ThreadStart {
    LPTHREAD_START_ROUTINE start;
    void* parameter;
};

void* RunThread(void* record) {
    ThreadStart start = *static_cast<ThreadStart*>(record);
    free(record);
    start.start(start.parameter);
    return nullptr;
}

HANDLE ToHandle(pthread_t thread) { return reinterpret_cast<HANDLE>(uintptr_t(thread)); }
pthread_t FromHandle(HANDLE handle) { return pthread_t(reinterpret_cast<uintptr_t>(handle)); }

bool TrySchedule(pthread_t thread, int policy, int level) {
    sched_param param{};
    param.sched_priority = level;
    return pthread_setschedparam(thread, policy, &param) == 0;
}

}  // namespace

HANDLE CreateThread(void* security, size_t stack_size, LPTHREAD_START_ROUTINE start,
                    void* parameter, DWORD flags, DWORD* thread_id) {
    if (security || stack_size || flags || !start) return nullptr;
    ThreadStart* record = static_cast<ThreadStart*>(malloc(sizeof(ThreadStart)));
    if (!record) return nullptr;
    record->start = start;
    record->parameter = parameter;

    // Detached: like a Windows thread whose handle nobody waits on, it
    // releases itself when it returns.
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    int failed = pthread_create(&thread, &attributes, RunThread, record);
    pthread_attr_destroy(&attributes);
    if (failed) {
        free(record);
        return nullptr;
    }
    if (thread_id) *thread_id = DWORD(uintptr_t(thread));
    return ToHandle(thread);
}

BOOL SetThreadPriority(HANDLE handle, int priority) {
    pthread_t thread = FromHandle(handle);
    if (priority <= THREAD_PRIORITY_NORMAL) return TrySchedule(thread, SCHED_OTHER, 0);

    // Above normal means real time. Time-critical takes the middle of the
    // real-time range: above the usual audio servers' threads, below the
    // kernel's own.
    const int lowest = sched_get_priority_min(SCHED_FIFO);
    const int highest = sched_get_priority_max(SCHED_FIFO);
    int level = priority >= THREAD_PRIORITY_TIME_CRITICAL ? (lowest + highest) / 2 : lowest;
    if (TrySchedule(thread, SCHED_FIFO, level) || TrySchedule(thread, SCHED_RR, level)) return 1;

    // An unprivileged user may still be granted real-time levels up to RLIMIT_RTPRIO.
    rlimit limit{};
    if (getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        rlim_t(lowest) <= limit.rlim_cur && limit.rlim_cur < rlim_t(level)) {
        level = int(limit.rlim_cur);
        if (TrySchedule(thread, SCHED_FIFO, level) || TrySchedule(thread, SCHED_RR, level)) return 1;
    }
    // Not permitted: the thread carries on at its normal priority.
    return 0;
}

void Sleep(DWORD milliseconds) {
    timespec remaining{time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

}  // namespace vinto
