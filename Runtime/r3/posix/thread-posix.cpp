// POSIX backend: native thread ids, thread names and thread-local storage.
#include <cerrno>
#include <pthread.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/syscall.h>
#endif
#include <olma/thread.h>
#include "common/misc/internal-thread.h"

namespace {
/** The calling thread's id, fetched once: the locks ask for it on every enter and
 *  leave, and a system call each time would cost more than the lock itself. */
constinit thread_local RTNATIVETHREAD t_idSelf = 0;

/** A forked child runs on a new thread with the parent's cached value. */
void rtThreadPosixAtForkChild() {
    t_idSelf = 0;
}

void rtThreadPosixRegisterAtFork() {
    (void)pthread_atfork(nullptr, nullptr, rtThreadPosixAtForkChild);
}
} // namespace

RTNATIVETHREAD RTThreadNativeSelf() {
    RTNATIVETHREAD id = t_idSelf;
    if (id == 0) {
        static pthread_once_t s_AtForkOnce = PTHREAD_ONCE_INIT;
        (void)pthread_once(&s_AtForkOnce, rtThreadPosixRegisterAtFork);
#if defined(__linux__)
        // The kernel's thread id: small, unique among live threads, and what debuggers show.
        id = (RTNATIVETHREAD)syscall(SYS_gettid);
#else
        id = (RTNATIVETHREAD)(uintptr_t)pthread_self();
#endif
        t_idSelf = id;
    }
    return id;
}

void rtThreadNativeInit() {}

void rtThreadNativeSetName(const char *pszName) {
#if defined(__linux__)
    // The kernel keeps 15 bytes plus the terminator, exactly what the record holds.
    (void)pthread_setname_np(pthread_self(), pszName);
#else
    (void)pszName;
#endif
}

void rtThreadNativeCloseHandle(uintptr_t hNative) {
    (void)hNative;
}

RTTLS RTTlsAlloc() {
    pthread_key_t Key;
    if (pthread_key_create(&Key, nullptr) != 0)
        return NIL_RTTLS;
    // Keys are small integers; one that does not fit the slot type cannot be handed out.
    if ((uintmax_t)Key > (uintmax_t)INT32_MAX) {
        pthread_key_delete(Key);
        return NIL_RTTLS;
    }
    return (RTTLS)Key;
}

int RTTlsFree(RTTLS iTls) {
    if (iTls == NIL_RTTLS)
        return 0;
    if (iTls < 0)
        return ERR_INVALID_PARAMETER;
    const int rc = pthread_key_delete((pthread_key_t)iTls);
    return rc == 0 ? 0 : RTErrConvertFromErrno(rc);
}

void *RTTlsGet(RTTLS iTls) {
    if (iTls < 0)
        return nullptr;
    return pthread_getspecific((pthread_key_t)iTls);
}

int RTTlsSet(RTTLS iTls, void *pvValue) {
    if (iTls < 0)
        return ERR_INVALID_PARAMETER;
    const int rc = pthread_setspecific((pthread_key_t)iTls, pvValue);
    return rc == 0 ? 0 : RTErrConvertFromErrno(rc);
}
