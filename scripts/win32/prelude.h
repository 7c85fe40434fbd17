// Force-included before every source that scripts/check-win32.sh compiles for 32-bit Windows.
//
// The platform configuration the dependencies' headers need under MinGW, then a ban on POSIX
// calls. The headers that declare those calls are included first, so that the ban hits only code
// that comes after them: the plug-in's own.
#pragma once

// log4cxx's Windows branch wraps its pragmas in MSVC's __pragma.
#define __pragma(x)

#include <process.h>
#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

// POSIX calls have no place in the plug-in: threads, sleeping and time go through the standard
// library, processes and libraries are the host's business.
#pragma GCC poison pthread_create pthread_join pthread_detach pthread_self pthread_setname_np
#pragma GCC poison pthread_mutex_lock pthread_mutex_unlock pthread_cond_wait pthread_cond_signal
#pragma GCC poison usleep sleep nanosleep gettimeofday clock_gettime getpid fork pipe kill
#pragma GCC poison dlopen dlsym dlclose mmap munmap
