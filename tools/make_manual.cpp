// Writes the manual page from its template, putting every command of the
// registry, in alphabetical order, with its usage text and summary
// where the template has the line "@COMMANDS@", the suffixes of the file
// formats for the line "@FORMATS@", and the version for "@VERSION@".
//   make_manual TEMPLATE OUTPUT VERSION
#include <strings.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "core/command.h"
#include "image/image_file.h"

namespace {

// Text as roff shows it literally: a backslash and a minus sign escaped.
std::string roff(const std::string &text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '-') out += '\\';
        out += c;
    }
    return out;
}

void entry(std::ostream &out, const std::string &syntax, const std::string &summary) {
    out << ".TP\n.B " << roff(syntax) << '\n' << roff(summary) << ".\n";
}

// "\fB.png\fR for PNG, \fB.jpg\fR or \fB.jpeg\fR for JPEG;": every format but
// TGA, the first, which takes any other name.
std::string formatSuffixes() {
    size_t count = 0;
    const ImageFormat *formats = imageFormats(&count);
    std::string text;
    for (size_t i = 1; i < count; ++i) {
        for (const char *const *suffix = formats[i].suffixes; *suffix; ++suffix)
            text += std::string(suffix == formats[i].suffixes ? "" : " or ") + "\\fB" + roff(*suffix) + "\\fR";
        text += std::string(" for ") + formats[i].name + (i + 1 < count ? ", " : ";");
    }
    return text;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 4) {
        std::cerr << "usage: make_manual TEMPLATE OUTPUT VERSION\n";
        return 2;
    }
    std::ifstream in(argv[1]);
    std::ofstream out(argv[2]);
    const std::string version = argv[3];
    for (std::string line; std::getline(in, line);) {
        if (line == "@COMMANDS@") {
            std::vector<const Command *> commands(registeredCommands().begin(), registeredCommands().end());
            std::sort(commands.begin(), commands.end(),
                      [](const Command *a, const Command *b) { return strcasecmp(a->name, b->name) < 0; });
            for (const Command *c : commands) entry(out, c->usage ? c->usage : c->name, c->summary);
            entry(out, "stop", "ends the program at once with exit status 1");
            continue;
        }
        if (line == "@FORMATS@") line = formatSuffixes();
        for (size_t at; (at = line.find("@VERSION@")) != std::string::npos;) line.replace(at, 9, version);
        out << line << '\n';
    }
    return in.eof() && out ? 0 : 1;
}
