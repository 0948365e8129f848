// Loops over the rows of a picture split across the processors the process
// may run on, by one pool of threads made on first use. It depends on the C++
// standard library alone, so that the TGA library can use it too.
#pragma once

namespace parallel_detail {
void runRowBlocks(int rows, int minimumRows, void (*call)(const void *work, int first, int last), const void *work);
} // namespace parallel_detail

// Runs work(first, last) on contiguous blocks of rows that together cover
// 0 .. rows - 1, each row once, on the pool's threads and the calling one,
// and returns when every block is done. Blocks have at least `minimumRows`
// rows. Work too small for two blocks runs at once on the calling thread,
// with no other thread involved, as does work started from inside a block or
// from a second thread while the pool is busy: nested use cannot deadlock.
// `work` must give the same bytes however the rows are split and may write
// only the rows of its own block. An exception thrown by a block is thrown
// here once the blocks already running are done; the others are skipped.
template <class Work> void forEachRowBlock(int rows, int minimumRows, const Work &work) {
    parallel_detail::runRowBlocks(
        rows, minimumRows, [](const void *w, int first, int last) { (*static_cast<const Work *>(w))(first, last); },
        &work);
}

// The fewest rows of `width` pixels worth a block of their own: 64 K pixels,
// so that handing a block to another thread costs little beside its work.
inline int rowsPerTask(int width) { return width > 0 && width < (1 << 16) ? ((1 << 16) + width - 1) / width : 1; }

// The threads forEachRowBlock uses, the calling one included: by default the
// number of processors this process may run on (its affinity mask, so that
// `taskset -c 0` means one thread).
int threadCount();
// The processors this process may run on, without making the pool: a
// process that forks must have no threads of its own.
int processorCount();
// Sets that number, for tests and benchmarks; 0 or less restores the
// default. Not from inside a block.
void setThreadCount(int count);
