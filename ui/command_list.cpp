// The program's commands, in the order Help lists them, which is also the
// order in which a command word is looked up. Each command is declared once,
// beside the operation it runs; adding one means declaring it there, in
// commands.h, and naming it here. This list lives with the windows, the one
// part of the program that sees every other: the interpreter's core knows no
// command.
#include "commands.h"

namespace {

// Built during static initialisation, before main runs; the registry only
// keeps the addresses until then.
struct Listing {
    Listing() {
        registerCommands({
            &unsharpMaskCommand,
            &iwCommand,
            &openCommand,
            &painter3Command,
            &painter2Command,
            &painterCommand,
            &imageToMapCommand,
            &solidCommand,
            &helpCommand,
            &sampleCommand,
            &sharpenCommand,
            &scaleCommand,
            &rotateCommand,
            &halfCommand,
            &edgeDetectCommand,
            &doubleCommand,
            &pastelCommand,
            &primaryCommand,
            &graysCommand,
            &bwCommand,
            &dissolveCommand,
            &differenceCommand,
            &darkenCommand,
            &cropCommand,
            &copyCommand,
            &compositeCommand,
            &blurCommand,
            &bluescreenCommand,
            &scriptCommand,
            &showCommand,
            &writeCommand,
            &readCommand,
        });
    }
} listing;

} // namespace
