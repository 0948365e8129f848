// Every command of the program, each declared once beside the operation it
// runs. The windows build their command lines from these, and
// command_list.cpp puts them in the registry.
#pragma once

#include "core/command.h"

extern FunctionCommand helpCommand, sampleCommand, scriptCommand;                           // core/
extern FunctionCommand readCommand, writeCommand;                                           // image/file_commands.cpp
extern FunctionCommand bluescreenCommand;                                                   // ops/bluescreen_commands.cpp
extern FunctionCommand compositeCommand;                                                    // ops/composite_commands.cpp
extern FunctionCommand copyCommand, cropCommand, solidCommand;                              // ops/crop_commands.cpp
extern FunctionCommand bwCommand, graysCommand, primaryCommand, pastelCommand;              // ops/dither_commands.cpp
extern FunctionCommand blurCommand, sharpenCommand, edgeDetectCommand, unsharpMaskCommand;  // ops/filter_commands.cpp
extern FunctionCommand scaleCommand, halfCommand, doubleCommand, rotateCommand;             // ops/geometry_commands.cpp
extern FunctionCommand imageToMapCommand, painterCommand, painter2Command, painter3Command; // ops/painter_commands.cpp
extern FunctionCommand darkenCommand, dissolveCommand, differenceCommand;                   // ops/tone_commands.cpp
extern FunctionCommand showCommand;                                                         // ui/display_dialog.cpp
extern FunctionCommand iwCommand, openCommand;                                              // ui/image_window.cpp
