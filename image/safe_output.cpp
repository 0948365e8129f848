#include "safe_output.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/xattr.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tga.h"

namespace {

// The temporary file being written, for the signal handler, which may only
// call async-signal-safe functions: so a fixed buffer. One write at a time.
char pendingTemporary[PATH_MAX];

const int kCleanedSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kCleanedCount = sizeof kCleanedSignals / sizeof kCleanedSignals[0];
struct sigaction previousActions[kCleanedCount];

extern "C" void removeTemporaryAndDie(int signal) {
    if (pendingTemporary[0]) unlink(pendingTemporary);
    // Ends the program as the signal would have: the signal stays blocked
    // while this runs, and on return it comes again with its default action.
    struct sigaction standard = {};
    standard.sa_handler = SIG_DFL;
    sigaction(signal, &standard, nullptr);
    raise(signal);
}

// While a temporary file exists, the signals that end a program from a
// terminal or a session remove it first. A signal that the program ignores
// or handles itself is left as it is.
void watchSignals() {
    struct sigaction cleaner = {};
    cleaner.sa_handler = removeTemporaryAndDie;
    sigemptyset(&cleaner.sa_mask);
    for (int i = 0; i < kCleanedCount; ++i) {
        sigaction(kCleanedSignals[i], nullptr, &previousActions[i]);
        if (!(previousActions[i].sa_flags & SA_SIGINFO) && previousActions[i].sa_handler == SIG_DFL)
            sigaction(kCleanedSignals[i], &cleaner, nullptr);
    }
}

void unwatchSignals() {
    for (int i = 0; i < kCleanedCount; ++i) sigaction(kCleanedSignals[i], &previousActions[i], nullptr);
}

// Holds those signals back while the temporary file is made and named.
class CleanedSignalsBlocked {
  public:
    CleanedSignalsBlocked() {
        sigset_t set;
        sigemptyset(&set);
        for (int s : kCleanedSignals) sigaddset(&set, s);
        sigprocmask(SIG_BLOCK, &set, &before);
    }
    ~CleanedSignalsBlocked() { sigprocmask(SIG_SETMASK, &before, nullptr); }

  private:
    sigset_t before;
};

// Puts into `path` the file that a chain of symbolic links from `name` leads
// to, whether it exists or not, so that writing keeps the links. A loop is
// left to fail when opened. False when a name is too long.
bool resolveLinks(const char *name, char (&path)[PATH_MAX]) {
    if (strlen(name) >= sizeof path) return false;
    strcpy(path, name);
    char link[PATH_MAX];
    for (int hops = 0; hops < 40; ++hops) {
        const ssize_t n = readlink(path, link, sizeof link - 1);
        if (n < 0) break; // not a link
        link[n] = '\0';
        const char *slash = strrchr(path, '/');
        const size_t folder = link[0] == '/' || !slash ? 0 : slash + 1 - path; // kept from the link's own path
        if (folder + n >= sizeof path) return false;
        memcpy(path + folder, link, n + 1);
    }
    return true;
}

// An access list gives others rights that a new file would not have.
bool hasAccessList(int fd) {
#ifdef __linux__
    return fgetxattr(fd, "system.posix_acl_access", nullptr, 0) > 0;
#else
    (void)fd;
    return false;
#endif
}

// Asks the file system for the room the data needs before anything is
// overwritten, so that a full disk leaves the old file as it was. Where it
// cannot say, the write goes ahead.
bool reserve(int fd, uint64_t size) {
#ifdef FALLOC_FL_KEEP_SIZE
    if (size > 0 && fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, (off_t)size) != 0)
        return errno != ENOSPC && errno != EFBIG && errno != EDQUOT;
#else
    (void)fd, (void)size;
#endif
    return true;
}

mode_t currentUmask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

} // namespace

SafeOutput::~SafeOutput() { abandon(); }

int SafeOutput::open(const char *fileName, uint64_t size) {
    if (!fileName || !*fileName || !resolveLinks(fileName, target)) return TGA_CANNOT_OPEN;
    // Opening the target in place asks the system whether this user may
    // write it at all, whatever its folder allows; it changes nothing yet.
    const int existing = ::open(target, O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (existing < 0) {
        if (errno != ENOENT) return TGA_CANNOT_OPEN;
        return openBeside(nullptr) ? TGA_NO_ERROR : TGA_CANNOT_OPEN;
    }
    struct stat old;
    if (fstat(existing, &old) != 0) {
        ::close(existing);
        return TGA_CANNOT_OPEN;
    }
    if (S_ISREG(old.st_mode) && old.st_nlink == 1 && !hasAccessList(existing) && openBeside(&old)) {
        ::close(existing);
        return TGA_NO_ERROR;
    }
    fd = existing;
    if (!S_ISREG(old.st_mode)) return TGA_NO_ERROR; // a device or a pipe
    if (!reserve(fd, size)) {
        abandon();
        return TGA_CANNOT_WRITE;
    }
    overwriting = true;
    return TGA_NO_ERROR;
}

// Makes the temporary file beside the target with the old file's owner,
// group and permission bits, or a new file's. False, with nothing left
// behind, where the file system does not let it have them all.
bool SafeOutput::openBeside(const struct stat *old) {
    // ".NAME.XXXXXX" in the target's folder.
    char name[sizeof pendingTemporary];
    const char *slash = strrchr(target, '/');
    const int folder = slash ? (int)(slash + 1 - target) : 0;
    if (snprintf(name, sizeof name, "%.*s.%s.XXXXXX", folder, target, target + folder) >= (int)sizeof name)
        return false;
    watchSignals();
    {
        CleanedSignalsBlocked blocked;
        memcpy(pendingTemporary, name, sizeof name);
        fd = mkstemp(pendingTemporary);
        if (fd < 0) pendingTemporary[0] = '\0';
    }
    if (fd < 0) {
        unwatchSignals();
        return false;
    }
    beside = true;
    const mode_t mode = old ? old->st_mode & 07777 : 0666 & ~currentUmask();
    // The owner first: changing it clears the set-user-ID and set-group-ID bits.
    bool kept = (!old || fchown(fd, old->st_uid, old->st_gid) == 0) && fchmod(fd, mode) == 0;
    struct stat made;
    kept = kept && fstat(fd, &made) == 0 && (made.st_mode & 07777) == mode &&
           (!old || (made.st_uid == old->st_uid && made.st_gid == old->st_gid));
    if (!kept) abandon();
    return kept;
}

bool SafeOutput::write(const void *data, size_t n) { return writeAt(data, n, end); }

bool SafeOutput::writeAt(const void *data, size_t n, uint64_t offset) {
    const char *p = (const char *)data;
    while (n > 0) {
        const ssize_t k = seekable() ? ::pwrite(fd, p, n, (off_t)offset) : ::write(fd, p, n);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        p += k;
        n -= (size_t)k;
        offset += (uint64_t)k;
    }
    for (uint64_t known = end; known < offset && !end.compare_exchange_weak(known, offset);) {
    }
    return true;
}

int SafeOutput::commit(bool ok) {
    if (fd < 0) return TGA_CANNOT_WRITE;
    ok = ok && (!overwriting || ftruncate(fd, (off_t)end.load()) == 0);
    ok = ::close(fd) == 0 && ok;
    fd = -1;
    if (ok && beside) {
        ok = rename(pendingTemporary, target) == 0;
        if (ok) {
            pendingTemporary[0] = '\0';
            unwatchSignals();
            beside = false;
        }
    }
    if (!ok) abandon();
    return ok ? TGA_NO_ERROR : TGA_CANNOT_WRITE;
}

void SafeOutput::abandon() {
    if (fd >= 0) ::close(fd);
    fd = -1;
    if (!beside) return;
    unlink(pendingTemporary);
    pendingTemporary[0] = '\0';
    unwatchSignals();
    beside = false;
}
