// Helpers shared by the unit tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "core/registers.h"

using Bytes = std::vector<uint8_t>;

// Everything the call prints on standard output.
inline std::string captureOutput(const std::function<void()> &call) {
    fflush(stdout);
    testing::internal::CaptureStdout();
    call();
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// Timing lines without their seconds, so outputs compare exactly.
inline std::string maskTiming(const std::string &text) {
    static const std::regex timing("(-- .* : ) *[0-9]+\\.[0-9]+ sec");
    return std::regex_replace(text, timing, "$1* sec");
}

inline void writeBytes(const std::string &path, const Bytes &bytes) {
    std::ofstream(path, std::ios::binary).write((const char *)bytes.data(), bytes.size());
}

inline Bytes readBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs `work` in a child process; gives its exit status, or 128 plus the
// number of the signal that ended it.
inline int inChild(const std::function<int()> &work) {
    const pid_t pid = fork();
    if (pid == 0) _exit(work());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

// Lets this process's address space grow by `bytes` at most.
inline void limitMemoryGrowth(rlim_t bytes) {
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlim_t most = (rlim_t)pages * sysconf(_SC_PAGESIZE) + bytes;
    const rlimit limit = {most, most};
    setrlimit(RLIMIT_AS, &limit);
}

// Makes the allocation through operator new after `n` more fail, once; a
// negative `n` lets every allocation through.
void failAllocationAfter(long n);

// A fresh folder per test, removed afterwards; registers start empty.
class TempDirTest : public testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/compositor-test-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
        for (int i = 0; i < kRegisterCount; ++i) *registerAt(i) = Image();
    }
    void TearDown() override {
        for (int i = 0; i < kRegisterCount; ++i) registerAt(i)->release();
        std::filesystem::remove_all(dir);
    }
    std::string path(const std::string &name) const { return dir + "/" + name; }

    std::string dir;
};

// The 18-byte header of a TGA file, followed by `body`.
struct TgaHeader {
    int idLength = 0, mapType = 0, type = 2;
    int mapFirst = 0, mapLength = 0, mapBits = 0;
    int width = 1, height = 1, depth = 24, descriptor = 0;

    Bytes with(const Bytes &body) const {
        Bytes b = {(uint8_t)idLength, (uint8_t)mapType, (uint8_t)type,
                   (uint8_t)mapFirst, (uint8_t)(mapFirst >> 8), (uint8_t)mapLength,
                   (uint8_t)(mapLength >> 8), (uint8_t)mapBits, 0, 0, 0, 0,
                   (uint8_t)width, (uint8_t)(width >> 8), (uint8_t)height,
                   (uint8_t)(height >> 8), (uint8_t)depth, (uint8_t)descriptor};
        b.resize(b.size() + body.size());
        std::copy(body.begin(), body.end(), b.end() - body.size());
        return b;
    }
};

// The pixel bytes of a file this program wrote: what follows its 18-byte
// header and 21-byte image ID.
inline Bytes pixelData(const Bytes &file) { return Bytes(file.begin() + 39, file.end()); }

using Pixel = std::array<unsigned char, 4>;

inline Pixel grey4(int v) {
    const unsigned char b = (unsigned char)v;
    return Pixel{b, b, b, b};
}
inline Pixel opaque(int r, int g, int b) { return Pixel{(unsigned char)r, (unsigned char)g, (unsigned char)b, 255}; }
// Opaque pixels whose red channel names the source column and green the row.
inline Pixel tagged(int c, int r) { return opaque(c + 1, r + 1, 50); }

// An image that owns its pixels and frees them when the test is done.
struct TestImage : Image {
    TestImage(int w, int h, const Bytes &bytes) {
        replace(w, h, allocPixels(w, h));
        std::copy(bytes.begin(), bytes.end(), pixels);
    }
    TestImage(int w, int h, const std::function<Pixel(int c, int r)> &colour) {
        replace(w, h, allocPixels(w, h));
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c) memcpy(pixels + (r * w + c) * 4, colour(c, r).data(), 4);
    }
    // The same value in all four channels.
    TestImage(int w, int h, const std::function<int(int c, int r)> &grey)
        : TestImage(w, h, [&](int c, int r) { return grey4(grey(c, r)); }) {}
    ~TestImage() { release(); }
    TestImage(const TestImage &) = delete;
    TestImage &operator=(const TestImage &) = delete;

    Bytes bytes() const { return pixels ? Bytes(pixels, pixels + (size_t)width * height * 4) : Bytes(); }
    Pixel at(int c, int r) const {
        Pixel p;
        memcpy(p.data(), pixels + (r * width + c) * 4, 4);
        return p;
    }
    int grey(int c, int r) const { return pixels[(r * width + c) * 4]; }
};
