#include "batch.h"

#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "command.h"
#include "console.h"
#include "image/image_file.h"
#include "image/parallel.h"
#include "registers.h"
#include "script.h"

namespace {

struct Options {
    std::string script, output, format;
    int jobs = 0; // 0: one per processor
    bool force = false;
    long shard = 1, shards = 1;
    std::vector<std::string> pictures;
};

// The room for a picture's first error line, shared with its process.
constexpr size_t kErrorBytes = 512;

struct Picture {
    std::string name, output;
    enum State { Waiting, Skipped, Done, Failed } state = Waiting; // Waiting until it has run
    bool ended() const { return state != Waiting; }
    std::string printed; // everything its process printed
    std::string error;   // its first error line
    double seconds = 0;
};

struct Running {
    size_t picture;
    pid_t pid;
    int fd;
    char *errorSlot;
    std::chrono::steady_clock::time_point start;
};

volatile sig_atomic_t stopRequested = 0;
void requestStop(int) { stopRequested = 1; }

char *childErrorSlot = nullptr;
void keepFirstError() {
    if (childErrorSlot) snprintf(childErrorSlot, kErrorBytes, "%s", consoleFirstError());
}

// Prints "compositor: MESSAGE" and the usage on standard error; returns 2.
int wrongArguments(const std::string &message) {
    fprintf(stderr, "compositor: %s\n", message.c_str());
    printUsage(stderr);
    return 2;
}

bool wholeNumber(const char *text, long low, long high, long *value) {
    char *end = nullptr;
    errno = 0;
    const long v = strtol(text, &end, 10);
    if (errno || end == text || *end || v < low || v > high) return false;
    *value = v;
    return true;
}

// Fills `o` from the arguments; an empty text when they make sense, else why not.
std::string parse(int argc, char **argv, Options &o) {
    bool fromInput = false, onlyPictures = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (onlyPictures || a.empty() || a[0] != '-') {
            o.pictures.push_back(a);
            continue;
        }
        if (a == "-") {
            fromInput = true;
        } else if (a == "--") {
            onlyPictures = true;
        } else if (a == "--force") {
            o.force = true;
        } else if (a == "--each" || a == "--output" || a == "--jobs" || a == "--format" || a == "--shard") {
            if (i + 1 == argc) return a + " needs a value";
            const char *value = argv[++i];
            long number = 0;
            if (a == "--each") {
                o.script = value;
            } else if (a == "--output") {
                o.output = value;
            } else if (a == "--jobs") {
                if (!wholeNumber(value, 1, 1024, &number)) return "--jobs takes a whole number from 1 to 1024";
                o.jobs = (int)number;
            } else if (a == "--format") {
                o.format = value;
                if (o.format != "png" && o.format != "jpg" && o.format != "tga")
                    return "--format takes png, jpg or tga";
            } else {
                const char *slash = strchr(value, '/');
                const std::string k = slash ? std::string(value, slash) : "";
                if (!slash || !wholeNumber(slash + 1, 1, 1L << 30, &o.shards) ||
                    !wholeNumber(k.c_str(), 1, o.shards, &o.shard))
                    return "--shard takes K/N, with 1 <= K <= N";
            }
        } else {
            return "unknown option " + a;
        }
    }
    if (o.script.empty()) return "--each needs a script";
    if (o.output.empty()) return "--output needs a folder";
    if (fromInput)
        for (std::string line; std::getline(std::cin, line);)
            if (!line.empty()) o.pictures.push_back(line);
    if (o.pictures.empty()) return "no pictures";
    return "";
}

// The name a picture is written under: its own, with the suffix of the
// format asked for or, without one, of the format it is in.
std::string outputName(const std::string &picture, const Options &o) {
    std::string name = std::filesystem::path(picture).filename().string();
    const ImageFormat *format = o.format.empty() ? nullptr : formatWithSuffix(("." + o.format).c_str());
    if (!format) {
        const ImageFormat &content = formatOfFile(picture.c_str());
        format = content.isFormatOf ? &content : formatWithSuffix(picture.c_str());
    }
    if (!format || formatWithSuffix(name.c_str()) == format) return o.output + "/" + name;
    if (formatWithSuffix(name.c_str())) name.erase(name.rfind('.'));
    return o.output + "/" + name + format->suffixes[0];
}

bool newer(const struct stat &a, const struct stat &b) {
    return a.st_mtim.tv_sec != b.st_mtim.tv_sec ? a.st_mtim.tv_sec > b.st_mtim.tv_sec
                                                : a.st_mtim.tv_nsec > b.st_mtim.tv_nsec;
}

// In a process of its own: registers start empty, the picture is read into
// A, the script runs and A is written. Never returns.
[[noreturn]] void runPicture(const Options &o, const Picture &picture, int out, char *errorSlot) {
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    dup2(out, STDOUT_FILENO);
    close(out);
    if (o.jobs > 1) setThreadCount(1); // the other processes have the other cores
    childErrorSlot = errorSlot;
    atexit(keepFirstError);
    runFormatted("read A %s", picture.name.c_str());
    if (!consoleErrorPrinted()) {
        FILE *script = openScript(o.script.c_str());
        if (script) {
            runScriptLines(script);
            fclose(script);
        } else {
            consolePrintRed("Can't open script `%s'\n", o.script.c_str());
        }
        if (!consoleErrorPrinted()) runFormatted("write A %s", picture.output.c_str());
    }
    exit(consoleErrorPrinted() ? 1 : 0);
}

class Batch {
  public:
    Batch(const Options &o, std::vector<Picture> pictures) : o(o), pictures(std::move(pictures)) {}

    int run() {
        const size_t slots = (size_t)o.jobs;
        char *errors = (char *)mmap(nullptr, slots * kErrorBytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (errors == MAP_FAILED) return wrongArguments("cannot share memory with the picture processes");
        for (size_t i = 0; i < slots; ++i) freeSlots.push_back(errors + i * kErrorBytes);
        struct sigaction stop = {};
        stop.sa_handler = requestStop;
        sigaction(SIGINT, &stop, nullptr);
        sigaction(SIGTERM, &stop, nullptr);
        signal(SIGPIPE, SIG_IGN);

        const auto begin = std::chrono::steady_clock::now();
        size_t next = 0;
        while (true) {
            while (!stopRequested && running.size() < slots && next < pictures.size()) start(next++);
            printFinished();
            if (running.empty()) break;
            wait();
            showProgress(begin);
        }
        if (progressShown) fprintf(stderr, "\r\033[K");
        size_t done = 0, failed = 0, skipped = 0;
        for (const Picture &p : pictures) {
            done += p.state == Picture::Done;
            failed += p.state == Picture::Failed;
            skipped += p.state == Picture::Skipped;
        }
        printf("%zu pictures: %zu done, %zu failed, %zu skipped, %.2f s\n", pictures.size(), done, failed, skipped,
               secondsSince(begin));
        munmap(errors, slots * kErrorBytes);
        return failed || stopRequested ? 1 : 0;
    }

  private:
    static double secondsSince(std::chrono::steady_clock::time_point t) {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
    }

    void start(size_t index) {
        Picture &p = pictures[index];
        if (p.state == Picture::Skipped) return;
        int ends[2];
        if (pipe(ends) != 0) return finish(p, Picture::Failed, "cannot start its process");
        fflush(stdout);
        char *slot = freeSlots.back();
        slot[0] = '\0';
        const auto started = std::chrono::steady_clock::now();
        const pid_t pid = fork();
        if (pid == 0) {
            close(ends[0]);
            runPicture(o, p, ends[1], slot);
        }
        close(ends[1]);
        if (pid < 0) {
            close(ends[0]);
            return finish(p, Picture::Failed, "cannot start its process");
        }
        freeSlots.pop_back();
        running.push_back(Running{index, pid, ends[0], slot, started});
    }

    void finish(Picture &p, Picture::State state, const std::string &error) {
        p.state = state;
        p.error = error;
    }

    // Takes what the processes print, and the result of each that ends.
    void wait() {
        std::vector<pollfd> fds;
        for (const Running &r : running) fds.push_back(pollfd{r.fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), 250) <= 0) return;
        for (size_t i = fds.size(); i-- > 0;) {
            if (!fds[i].revents) continue;
            Running r = running[i];
            Picture &p = pictures[r.picture];
            char buffer[1 << 16];
            const ssize_t n = read(r.fd, buffer, sizeof buffer);
            if (n > 0) {
                p.printed.append(buffer, (size_t)n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            close(r.fd);
            int status = 0;
            while (waitpid(r.pid, &status, 0) < 0 && errno == EINTR) {
            }
            p.seconds = secondsSince(r.start);
            std::string error = r.errorSlot;
            if (WIFSIGNALED(status))
                error = "ended by signal " + std::to_string(WTERMSIG(status));
            else if (error.empty())
                error = "the script ran stop";
            finish(p, WIFEXITED(status) && WEXITSTATUS(status) == 0 ? Picture::Done : Picture::Failed, error);
            freeSlots.push_back(r.errorSlot);
            running.erase(running.begin() + (long)i);
        }
    }

    // The results of the pictures that ended, in the order of the list.
    void printFinished() {
        for (; printedUpTo < pictures.size() && pictures[printedUpTo].ended(); ++printedUpTo) {
            const Picture &p = pictures[printedUpTo];
            if (progressShown) fprintf(stderr, "\r\033[K");
            if (p.state == Picture::Skipped) {
                printf("skipped %s -> %s\n", p.name.c_str(), p.output.c_str());
            } else if (p.state == Picture::Done) {
                printf("ok %s -> %s %.2f s\n", p.name.c_str(), p.output.c_str(), p.seconds);
            } else {
                printf("FAILED %s: %s\n", p.name.c_str(), p.error.c_str());
                for (size_t at = 0; at < p.printed.size();) {
                    const size_t end = std::min(p.printed.find('\n', at), p.printed.size());
                    printf("  %.*s\n", (int)(end - at), p.printed.c_str() + at);
                    at = end + 1;
                }
            }
        }
        fflush(stdout);
    }

    // "12 of 200, 3.4 pictures/s, 55 s left" on a terminal, redrawn in place.
    void showProgress(std::chrono::steady_clock::time_point begin) {
        if (!isatty(STDERR_FILENO)) return;
        size_t done = 0, toRun = 0;
        for (const Picture &p : pictures) {
            toRun += p.state != Picture::Skipped;
            done += p.state == Picture::Done || p.state == Picture::Failed;
        }
        const double rate = done / std::max(secondsSince(begin), 1e-3);
        fprintf(stderr, "\r%zu of %zu, %.1f pictures/s", done, toRun, rate);
        if (done > 0) fprintf(stderr, ", %.0f s left", (toRun - done) / rate);
        fprintf(stderr, "\033[K");
        progressShown = true;
    }

    const Options &o;
    std::vector<Picture> pictures;
    std::vector<Running> running;
    std::vector<char *> freeSlots;
    size_t printedUpTo = 0;
    bool progressShown = false;
};

} // namespace

void printUsage(FILE *out) {
    fputs("usage: compositor                      the windowed mode\n"
          "       compositor PICTURE...           the windowed mode with each picture in a window\n"
          "       compositor SCRIPT               runs the script, messages on standard output\n"
          "       compositor --each SCRIPT --output DIR [--jobs N] [--format png|jpg|tga]\n"
          "                  [--force] [--shard K/N] PICTURE...|-\n"
          "                                       runs the script on each picture, read into A,\n"
          "                                       and writes A to DIR (- reads the names, one a\n"
          "                                       line, from standard input)\n"
          "       compositor --help | --version\n"
          "The manual: man compositor\n",
          out);
}

int runBatch(int argc, char **argv) {
    Options o;
    const std::string wrong = parse(argc, argv, o);
    if (!wrong.empty()) return wrongArguments(wrong);
    if (!o.jobs) o.jobs = processorCount(); // the pool would start threads before the forks
    FILE *script = openScript(o.script.c_str());
    if (!script) return wrongArguments("cannot open the script " + o.script);
    fclose(script);
    struct stat scriptInfo;
    stat(o.script.c_str(), &scriptInfo);
    std::error_code failed;
    std::filesystem::create_directories(o.output, failed);
    if (!std::filesystem::is_directory(o.output)) return wrongArguments("cannot make the folder " + o.output);

    // Sorted first, so that every machine of a sharded run sees one list.
    std::sort(o.pictures.begin(), o.pictures.end());
    std::vector<Picture> pictures;
    for (size_t i = 0; i < o.pictures.size(); ++i)
        if ((long)((i + 1) % o.shards) == o.shard % o.shards) {
            pictures.emplace_back();
            pictures.back().name = o.pictures[i];
        }

    std::set<std::pair<dev_t, ino_t>> inputs;
    for (const std::string &name : o.pictures) {
        struct stat st;
        if (stat(name.c_str(), &st) == 0) inputs.insert({st.st_dev, st.st_ino});
    }
    std::map<std::string, std::string> takenBy;
    for (Picture &p : pictures) {
        p.output = outputName(p.name, o);
        auto [at, added] = takenBy.emplace(p.output, p.name);
        if (!added) return wrongArguments(at->second + " and " + p.name + " would both be written as " + p.output);
        struct stat out, in;
        const bool exists = stat(p.output.c_str(), &out) == 0;
        if (exists && inputs.count({out.st_dev, out.st_ino}))
            return wrongArguments(p.output + " is one of the pictures: it is never written over");
        if (exists && !o.force && stat(p.name.c_str(), &in) == 0 && newer(out, in) && newer(out, scriptInfo))
            p.state = Picture::Skipped;
    }
    return Batch(o, std::move(pictures)).run();
}
