/* Preloaded into a migration (LD_PRELOAD, Linux only) to cut it off at a chosen point:
 * every system call that changes a file (write, pwrite, writev, fsync, fdatasync,
 * ftruncate, rename, unlink, link, mkdir, and an open that creates or truncates) counts
 * one, and the call numbered QV_KILL_AT is not made: the process sends itself SIGKILL
 * instead, as a power cut or a killed installer would stop it. With QV_KILL_COUNT_FILE
 * set, the total is written to that file at exit, so that a sweep knows how many points
 * a run has. Writes to standard input, output and error do not count.
 *
 * A test harness, not part of the program: it is the one place outside src/platform that
 * calls the system directly, because it must sit under SQLite's own calls too. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

static long g_count;
static long g_killAt = -1;

__attribute__((constructor)) static void Start(void) {
    const char* at = getenv("QV_KILL_AT");
    if (at != NULL && *at != '\0') g_killAt = atol(at);
}

__attribute__((destructor)) static void Finish(void) {
    const char* path = getenv("QV_KILL_COUNT_FILE");
    if (path == NULL || *path == '\0') return;
    FILE* file = fopen(path, "w");
    if (file == NULL) return;
    fprintf(file, "%ld\n", g_count);
    fclose(file);
}

static void Count(void) {
    if (++g_count == g_killAt) kill(getpid(), SIGKILL);
}

#define REAL(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))

ssize_t write(int fd, const void* data, size_t size) {
    if (fd > 2) Count();
    return REAL(write)(fd, data, size);
}
ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
    Count();
    return REAL(pwrite)(fd, data, size, offset);
}
ssize_t pwrite64(int fd, const void* data, size_t size, off64_t offset) {
    Count();
    return REAL(pwrite64)(fd, data, size, offset);
}
ssize_t writev(int fd, const struct iovec* iov, int count) {
    if (fd > 2) Count();
    return REAL(writev)(fd, iov, count);
}
int fsync(int fd) {
    Count();
    return REAL(fsync)(fd);
}
int fdatasync(int fd) {
    Count();
    return REAL(fdatasync)(fd);
}
int ftruncate(int fd, off_t length) {
    Count();
    return REAL(ftruncate)(fd, length);
}
int ftruncate64(int fd, off64_t length) {
    Count();
    return REAL(ftruncate64)(fd, length);
}
int rename(const char* from, const char* to) {
    Count();
    return REAL(rename)(from, to);
}
int renameat(int fromDir, const char* from, int toDir, const char* to) {
    Count();
    return REAL(renameat)(fromDir, from, toDir, to);
}
int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
    Count();
    return REAL(renameat2)(fromDir, from, toDir, to, flags);
}
int unlink(const char* path) {
    Count();
    return REAL(unlink)(path);
}
int unlinkat(int dir, const char* path, int flags) {
    Count();
    return REAL(unlinkat)(dir, path, flags);
}
int link(const char* from, const char* to) {
    Count();
    return REAL(link)(from, to);
}
int mkdir(const char* path, mode_t mode) {
    Count();
    return REAL(mkdir)(path, mode);
}

static void CountOpen(int flags) {
    if (flags & (O_CREAT | O_TRUNC)) Count();
}
static mode_t ModeOf(int flags, va_list args) {
    return (flags & (O_CREAT | O_TMPFILE)) ? (mode_t)va_arg(args, int) : 0;
}
int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = ModeOf(flags, args);
    va_end(args);
    CountOpen(flags);
    return REAL(open)(path, flags, mode);
}
int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = ModeOf(flags, args);
    va_end(args);
    CountOpen(flags);
    return REAL(open64)(path, flags, mode);
}
int openat(int dir, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = ModeOf(flags, args);
    va_end(args);
    CountOpen(flags);
    return REAL(openat)(dir, path, flags, mode);
}
int openat64(int dir, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = ModeOf(flags, args);
    va_end(args);
    CountOpen(flags);
    return REAL(openat64)(dir, path, flags, mode);
}
