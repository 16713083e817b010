// Threads and pauses in their Windows shape. Windows builds use kernel32; on
// Linux, threads_posix.cpp offers the same calls over pthreads.
#pragma once

#include "platform/win32.h"

#ifndef _WIN32
#include <stddef.h>

namespace vinto {

typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(void* parameter);

constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_HIGHEST = 2;
constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;

// Starts start(parameter) on a new thread at once. Only default security,
// stack size and flags (all 0) are offered; thread_id may be null. The handle
// stays valid while the thread runs; the thread is never joined.
HANDLE CreateThread(void* security, size_t stack_size, LPTHREAD_START_ROUTINE start,
                    void* parameter, DWORD flags, DWORD* thread_id);

// Asks for real-time scheduling above THREAD_PRIORITY_NORMAL. Where that is
// not permitted the thread keeps its normal priority and the result is 0.
BOOL SetThreadPriority(HANDLE thread, int priority);

// Pauses the calling thread for at least milliseconds ms.
void Sleep(DWORD milliseconds);
}  // namespace vinto
#endif
