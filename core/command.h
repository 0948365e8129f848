// The command registry and the dispatcher through which every command line
// passes: typed in the console, read from a script or built by a window.
#pragma once

#include <cstddef>

#include <initializer_list>
#include <vector>

// Base of every interpreter command: a global object declared once, next to
// the operation it calls, with its word, its usage text, its summary and its
// work. The
// program puts them in the registry in the order Help lists them
// (ui/command_list.cpp).
class Command {
  public:
    // `usage` is the command's syntax, such as "NAME R X Y" for one that
    // takes a register and two numbers, or null for one that takes nothing;
    // `summary` says in a few words what it does, for the manual.
    Command(const char *name, const char *usage, const char *summary)
        : name(name), usage(usage), summary(summary) {}

    // Runs the command on its writable argument text (never null). Returns 1
    // to go on, 0 to stop the script that runs the line.
    virtual int execute(char *args) = 0;

    // Reports arguments the command cannot use as one red line "Usage: " and
    // the usage text. Returns 1, the result every command gives, so that a
    // command can end with `return self.usageError()`.
    int usageError() const;

    const char *const name;
    const char *const usage;
    const char *const summary;
};

// A command whose work is a plain function of the command and its argument text.
class FunctionCommand : public Command {
  public:
    using Work = int (*)(const Command &self, char *args);
    FunctionCommand(const char *name, const char *usage, const char *summary, Work work)
        : Command(name, usage, summary), work(work) {}
    int execute(char *args) override { return work(*this, args); }

  private:
    Work work;
};

// Appends commands to the registry, whose order is both the lookup order and
// the order in which Help lists them. The registry knows no command itself.
void registerCommands(std::initializer_list<Command *> commands);
// Every registered command, in that order.
const std::vector<Command *> &registeredCommands();
// The command a word names, matched in any case; null when none does.
Command *findCommand(const char *word);

// Calls `watch` with true before each command runs and with false after it
// (nested ones included), so that the windowed mode can show it is busy.
void watchCommands(void (*watch)(bool running));

// Ends the first word of `s` in place and returns the rest after the blanks
// that follow it (null when `s` is null or empty). A blank is a byte from 0
// to 32; bytes from 0x80 up are parts of words.
char *splitWord(char *s);

// The longest command line that runs, in bytes without its trailing control
// bytes: the longest path the system allows fits in it.
constexpr size_t kMostLineBytes = 4096;

// Echoes, runs and times one command line. Returns the command's result, or 1.
// A line longer than kMostLineBytes runs nothing and gets an error line.
int runCommand(const char *line);

// Runs the command line made of the command's word in lower case and, after
// a blank, the arguments formatted printf-style (none without a format), as
// the windows build their lines; always returns 1.
int runCommandLine(const Command &command, const char *format = nullptr, ...) __attribute__((format(printf, 2, 3)));

// Formats a command line printf-style and runs it; always returns 1.
int runFormatted(const char *format, ...) __attribute__((format(printf, 1, 2)));
