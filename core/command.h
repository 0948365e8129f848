// The command registry and the dispatcher through which every command line
// passes: typed in the console, read from a script or built by a window.
#pragma once

// Base of every interpreter command. Each command is a global object that
// registers itself when constructed; objects live as long as the process.
class Command {
  public:
    explicit Command(const char *name);

    // Runs the command on its writable argument text (never null). Returns 1
    // to go on, 0 to stop the script that runs the line.
    virtual int execute(char *args) = 0;

    const char *const name;
    Command *next = nullptr;
};

// A command whose work is a plain function of its argument text.
class FunctionCommand : public Command {
  public:
    FunctionCommand(const char *name, int (*run)(char *args)) : Command(name), run(run) {}
    int execute(char *args) override { return run(args); }

  private:
    int (*run)(char *args);
};

// First command of the registry, in lookup and listing order.
Command *firstCommand();

// Ends the first word of `s` in place and returns the rest after the blanks
// that follow it (null when `s` is null or empty). A blank is a byte from 0
// to 32; bytes from 0x80 up are parts of words.
char *splitWord(char *s);

// Echoes, runs and times one command line. Returns the command's result, or 1.
int runCommand(const char *line);

// Formats a command line printf-style and runs it; always returns 1.
int runFormatted(const char *format, ...) __attribute__((format(printf, 1, 2)));
