// Writes a file the careful way: where it can, beside the target, renaming the
// new file over it only once complete, so that a failed write leaves the old
// file as it was. It depends on nothing but the C and POSIX libraries.
//
// A write is allowed only where the user could open the target for writing
// in place. It keeps the old file's owner, group and permission bits, its hard
// links and any symbolic link that leads to it (dangling ones included: the
// file they name is created). Where the new file could not keep all of that
// (several hard links, an owner or group the user cannot give, an access
// list, a folder the user may not create files in) or the target is no
// regular file (a device, a pipe), it checks that the data will fit and then
// writes in place. No temporary file outlives a failed write, the object, or
// a SIGINT, SIGTERM or SIGHUP that ends the program during the write.
// It allocates no memory, so that running out of it cannot stop a cleanup.
#pragma once

#include <limits.h>
#include <sys/stat.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

class SafeOutput {
  public:
    SafeOutput() = default;
    SafeOutput(const SafeOutput &) = delete;
    SafeOutput &operator=(const SafeOutput &) = delete;
    // An uncommitted write is abandoned: the temporary file goes.
    ~SafeOutput();

    // Opens `fileName` for `size` bytes. Returns TGA_NO_ERROR, TGA_CANNOT_OPEN
    // when the target cannot be written, or TGA_CANNOT_WRITE when the data
    // cannot fit (the old file then stays as it was).
    int open(const char *fileName, uint64_t size);
    // Appends bytes; false on failure.
    bool write(const void *data, size_t n);
    // Writes bytes `offset` bytes into the file; false on failure. Where the
    // target is seekable, threads may write different parts at once and in
    // any order; elsewhere the parts must come in order, one at a time.
    bool writeAt(const void *data, size_t n, uint64_t offset);
    // Whether parts may be written out of order: the file is a regular one.
    bool seekable() const { return beside || overwriting; }
    // Ends the write and, on success, puts the new file in place: returns
    // TGA_NO_ERROR or TGA_CANNOT_WRITE. `ok` false abandons the write.
    int commit(bool ok);

  private:
    bool openBeside(const struct stat *old);
    void abandon();

    char target[PATH_MAX] = {}; // the file the name leads to, through any links
    int fd = -1;
    bool beside = false;     // writing a temporary file to rename over the target
    bool overwriting = false; // writing over a regular file in place
    std::atomic<uint64_t> end{0}; // the furthest byte written
};
