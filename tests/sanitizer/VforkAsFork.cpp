// Linked into the test programs of the ThreadSanitizer build only.
//
// Qt starts child processes with clone(CLONE_VM | CLONE_VFORK): the child runs in the parent's
// memory until it calls exec. ThreadSanitizer intercepts the calls the child makes on the way and
// records them in the parent's bookkeeping of the calling thread, after which it reports races
// between correctly locked accesses of that thread (and later ones). ThreadSanitizer already turns
// vfork() into fork(); this does the same for the clone() call, so the child gets its own copy of
// the memory. Qt learns of a failed exec through a pipe, so it sees no difference.
#include <cstdarg>
#include <dlfcn.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

extern "C" int clone(int (*fn)(void*), void* stack, int flags, void* arg, ...) {
    va_list ap;
    va_start(ap, arg);
    pid_t* parentTid = va_arg(ap, pid_t*);
    void* tls = va_arg(ap, void*);
    pid_t* childTid = va_arg(ap, pid_t*);
    va_end(ap);
    constexpr int vforkLike = CLONE_VM | CLONE_VFORK;
    if ((flags & vforkLike) == vforkLike && !(flags & CLONE_THREAD)) {
        const pid_t pid = fork();
        if (pid == 0)
            _exit(fn(arg));
        if (pid > 0 && (flags & CLONE_PIDFD)) {
            const long pidfd = syscall(SYS_pidfd_open, pid, 0);
            *reinterpret_cast<int*>(parentTid) = static_cast<int>(pidfd);
        }
        return pid;
    }
    using TClone = int (*)(int (*)(void*), void*, int, void*, ...);
    static const auto real = reinterpret_cast<TClone>(dlsym(RTLD_NEXT, "clone"));
    return real(fn, stack, flags, arg, parentTid, tls, childTid);
}
