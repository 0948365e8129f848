// Fuzz target for the interpreter: the input is a script, run line by line
// in script mode (no console, so IW, open and show only say that they need
// the windowed mode, and no display is ever opened) against registers that
// hold small pictures. It runs in a folder of its own, holding a script that
// runs itself; a '/' in the input becomes '_', so every file the script reads
// or writes stays in that folder.
#include <FL/x.H>
#include <strings.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "core/command.h"
#include "core/registers.h"

namespace fs = std::filesystem;

namespace {

fs::path folder;

void removeFolder() {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

// A w x h picture whose channels follow the pixel position, premultiplied by
// an alpha that varies too (all 255 when `opaque`).
void fill(int index, int w, int h, bool opaque) {
    unsigned char *p = allocPixels(w, h);
    for (int i = 0; i < w * h; ++i) {
        const int a = opaque ? 255 : (i * 37) % 256;
        p[4 * i] = (unsigned char)((i * 7) % (a + 1));
        p[4 * i + 1] = (unsigned char)((i * 13) % (a + 1));
        p[4 * i + 2] = (unsigned char)((i * 29) % (a + 1));
        p[4 * i + 3] = (unsigned char)a;
    }
    registerAt(index)->replace(w, h, p);
}

// Every run starts from the same registers and the same folder.
void resetState() {
    for (int i = 0; i < kRegisterCount; ++i) {
        registerAt(i)->release();
        *registerAt(i) = Image();
    }
    fill(0, 8, 6, false);  // A
    fill(1, 8, 6, true);   // B
    fill(2, 1, 1, false);  // C
    fill(3, 3, 17, false); // D
    fill(25, 5, 5, true);  // Z
    for (const fs::directory_entry &entry : fs::directory_iterator(folder)) fs::remove_all(entry.path());
    FILE *self = fopen("self", "w");
    fputs("script self\n", self);
    fclose(self);
}

// `stop` ends the process, which the fuzzer would take for a crash: such
// lines are left out. The test mirrors the dispatcher's: the first 94
// characters, trailing control bytes trimmed, the first word in any case.
bool isStop(const char *line) {
    char text[95];
    snprintf(text, sizeof text, "%.94s", line);
    char *end = text + strlen(text);
    while (end > text && (unsigned char)end[-1] < 32) *--end = '\0';
    return splitWord(text) && strcasecmp(text, "stop") == 0;
}

// The folder is entered at the first run, not before: the fuzzer resolves
// the paths it was given in the folder it was started from.
void enterFolder() {
    if (!folder.empty()) return;
    folder = fs::temp_directory_path() / ("fuzz-interpreter-" + std::to_string(getpid()));
    fs::create_directories(folder);
    fs::current_path(folder);
    atexit(removeFolder);
}

} // namespace

// Large pictures only slow the fuzzer down (diffusing 24 million pixels, 28 s
// under the sanitizers, passes for a hang): past 32 MB an allocation fails,
// as on a machine with less memory, and the command has to say so. (Read
// only by AddressSanitizer.)
extern "C" const char *__asan_default_options() {
    return "allocator_may_return_null=1:max_allocation_size_mb=32";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    enterFolder();
    resetState();
    std::string script((const char *)data, size);
    for (char &c : script)
        if (c == '/') c = '_';
    FILE *in = fmemopen(script.data(), script.size(), "r");
    if (!in) return 0; // an empty input
    // The script runner's own loop: reads of at most 254 characters.
    char line[256];
    while (fgets(line, 255, in))
        if (!isStop(line)) runCommand(line);
    fclose(in);
    // Script mode never opens a display, whatever the commands.
    if (fl_display) abort();
    return 0;
}
