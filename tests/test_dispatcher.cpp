// The dispatcher, the registry, register names and the script runner.
#include <cstring>
#include <fstream>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "core/command.h"
#include "core/script.h"
#include "test_support.h"

namespace {

std::string run(const char *line) {
    return maskTiming(captureOutput([&] { runCommand(line); }));
}

// A command that stops the script running it, one that records what it was
// given, and one that runs out of memory.
int calls = 0;
std::string lastArgs;
FunctionCommand haltCommand("halt-for-test", nullptr, "stops the script", [](const Command &, char *) {
    ++calls;
    return 0;
});
FunctionCommand echoCommand("echo-for-test", "echo-for-test ANY", "records its arguments", [](const Command &, char *args) {
    lastArgs = args;
    ++calls;
    return 1;
});
FunctionCommand hungryCommand("hungry-for-test", nullptr, "runs out of memory", [](const Command &, char *) -> int {
    throw std::bad_alloc();
});
struct TestCommands {
    TestCommands() { registerCommands({&haltCommand, &echoCommand, &hungryCommand}); }
} testCommands;

struct Split {
    std::string word;
    const char *rest; // null, or a pointer into the buffer
};

Split split(char *text) {
    const char *rest = splitWord(text);
    return {text, rest};
}

} // namespace

TEST(SplitWord, CutsTheFirstWordAndSkipsTheBlanksAfterIt) {
    char text[] = "read  A file name ";
    Split s = split(text);
    EXPECT_EQ(s.word, "read");
    EXPECT_STREQ(s.rest, "A file name ");

    char leading[] = "  word";
    s = split(leading);
    EXPECT_EQ(s.word, "");
    EXPECT_STREQ(s.rest, "word");

    char blanks[] = " \t ";
    s = split(blanks);
    EXPECT_EQ(s.word, "");
    EXPECT_STREQ(s.rest, "");

    char alone[] = "word";
    s = split(alone);
    EXPECT_EQ(s.word, "word");
    EXPECT_STREQ(s.rest, "");

    char empty[] = "";
    EXPECT_EQ(splitWord(empty), nullptr);
    EXPECT_EQ(splitWord(nullptr), nullptr);
}

TEST(SplitWord, TreatsControlCharactersAsBlanksAndHighBytesAsPartsOfWords) {
    char text[] = "\xC3\xA9t\xC3\xA9.tga\x01 caf\xC3\xA9\x7F" "e\x80\xFF\x1Frest";
    Split s = split(text);
    EXPECT_EQ(s.word, "\xC3\xA9t\xC3\xA9.tga");
    EXPECT_STREQ(s.rest, "caf\xC3\xA9\x7F" "e\x80\xFF\x1Frest");
    char *rest = const_cast<char *>(s.rest);
    s = split(rest);
    EXPECT_EQ(s.word, "caf\xC3\xA9\x7F" "e\x80\xFF"); // 0x7F is a word character
    EXPECT_STREQ(s.rest, "rest");
}

TEST(Registry, HelpListsEveryCommandInItsOrder) {
    // The test's own commands, registered beside the program's, are left out.
    EXPECT_EQ(std::regex_replace(run("Help"), std::regex("[a-z]+-for-test, "), ""),
              "unsharpmask, IW, open, painter3, painter2, painter, image-to-map, solid, Help, Sample, sharpen, scale, "
              "rotate, half, edgedetect, double, pastel, primary, grays, BW, dissolve, difference, darken, crop, copy, "
              "composite, blur, bluescreen, script, show, write, read, stop\n-- Help : * sec\n");
}

TEST(Registry, TheReadmeTableGivesEachCommandItsDeclaredUsage) {
    std::map<std::string, std::string> table; // command -> syntax
    std::ifstream readme(README_PATH);
    const std::regex row("^\\| `([^`]+)` \\| `([^`]+)` \\|");
    std::smatch m;
    for (std::string line; std::getline(readme, line);)
        if (std::regex_search(line, m, row)) table[m[1]] = m[2];
    for (const Command *c : registeredCommands()) {
        if (strstr(c->name, "-for-test")) continue;
        EXPECT_EQ(table[c->name], c->usage ? c->usage : c->name) << c->name;
        table.erase(c->name);
    }
    EXPECT_EQ(table, (std::map<std::string, std::string>{{"stop", "stop"}})); // the dispatcher's own word
}

TEST(RunCommand, MatchesWordsInAnyCaseAndTimesThemAsTyped) {
    EXPECT_EQ(run("sAMPLE x\n"), "Sample Command on params `x'\n-- sAMPLE : * sec\n");
    EXPECT_EQ(run("HELP").find("-- HELP : * sec\n") != std::string::npos, true);
    std::string timing = captureOutput([] { runCommand("Sample"); });
    EXPECT_TRUE(std::regex_search(timing, std::regex("-- Sample :  0\\.[0-9]{2} sec\n$"))) << timing;
}

TEST(RunCommand, ReportsUnknownWordsAndLinesStartingWithABlank) {
    EXPECT_EQ(run("frobnicate A\n"), "Command `frobnicate' not implemented!\n");
    EXPECT_EQ(run(" Sample x\n"), "Command `' not implemented!\n");
    EXPECT_EQ(run("   \n"), "Command `' not implemented!\n");
    EXPECT_EQ(run("\n"), "");
    EXPECT_EQ(run(""), "");
    EXPECT_EQ(run("stopper"), "Command `stopper' not implemented!\n");
}

TEST(RunCommand, KeepsTrailingSpacesButDropsTrailingControlBytes) {
    EXPECT_EQ(run("Sample  a  b  \r\n"), "Sample Command on params `a  b  '\n-- Sample : * sec\n");
    EXPECT_EQ(run("Sample x\xE9\xFF\x1F\x01"), "Sample Command on params `x\xE9\xFF'\n-- Sample : * sec\n");
}

TEST(RunCommand, MemoryAContainerCannotGetEndsTheCommandNotTheProgram) {
    EXPECT_EQ(run("hungry-for-test A"), "Not enough memory for the new image!\n-- hungry-for-test : * sec\n");
}

TEST(RunCommand, InterpretsALineWholeUpTo4096BytesAndRefusesALongerOne) {
    const std::string longest = "Sample " + std::string(4089, 'x'); // 4096 bytes
    EXPECT_EQ(run((longest + "\r\n").c_str()), "Sample Command on params `" + std::string(4089, 'x') + "'\n-- Sample : * sec\n");
    EXPECT_EQ(run((longest + "x").c_str()), "Command line of 4097 bytes not run: the most is 4096\n");
}

TEST(RunCommand, PassesTheCommandsResultButRunFormattedAlwaysGivesOne) {
    calls = 0;
    int result = 1;
    captureOutput([&] { result = runCommand("halt-for-test"); });
    EXPECT_EQ(result, 0);
    captureOutput([&] { result = runFormatted("halt-for-test %d", 3); });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(calls, 2);

    std::string longArg(600, 'y');
    captureOutput([&] { runFormatted("echo-for-test %s", longArg.c_str()); });
    EXPECT_EQ(lastArgs, longArg);
}

TEST(RunCommand, StopEndsTheProcessWithStatusOne) {
    EXPECT_EXIT(runCommand("stop\n"), testing::ExitedWithCode(1), "");
    EXPECT_EXIT(runCommand("StOp now"), testing::ExitedWithCode(1), "");
}

class Registers : public TempDirTest {};

TEST_F(Registers, NamesAreOneLetterOfEitherCase) {
    EXPECT_EQ(lookupRegister("a"), registerAt(0));
    EXPECT_EQ(lookupRegister("A"), registerAt(0));
    EXPECT_EQ(lookupRegister("z"), registerAt(25));
    Image *found = registerAt(0);
    EXPECT_EQ(captureOutput([&] { found = lookupRegister(""); }), "No register name!\n");
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(captureOutput([&] { found = lookupRegister(nullptr); }), "No register name!\n");
    EXPECT_EQ(captureOutput([&] { found = lookupRegister("AB"); }),
              "Register name `AB' is bad - must have 1 character!\n");
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(captureOutput([&] { lookupRegister("7"); }), "Bad register name `7'\n");
    EXPECT_EQ(captureOutput([&] { lookupRegister("["); }), "Bad register name `['\n");
    EXPECT_EQ(captureOutput([&] { lookupRegister("\xE9"); }), "Bad register name `\xE9'\n");
    EXPECT_EQ(captureOutput([&] { found = lookupRegister("\xC3\xA9"); }),
              "Register name `\xC3\xA9' is bad - must have 1 character!\n");
    EXPECT_EQ(found, nullptr);
}

TEST_F(Registers, EmptyRegistersAreRefusedAsImages) {
    Image *found = registerAt(0);
    EXPECT_EQ(captureOutput([&] { found = lookupImage("c"); }), "c not a valid image\n");
    EXPECT_EQ(found, nullptr);
    registerAt(2)->replace(1, 1, allocPixels(1, 1));
    EXPECT_EQ(lookupImage("c"), registerAt(2));
}

TEST_F(Registers, FirstFreeRegisterSkipsFilledOnesAndFallsBackToZ) {
    EXPECT_EQ(firstFreeRegister(), 0);
    for (int i = 0; i < 25; ++i) registerAt(i)->replace(1, 1, allocPixels(1, 1));
    EXPECT_EQ(firstFreeRegister(), 25);
    registerAt(25)->replace(1, 1, allocPixels(1, 1));
    EXPECT_EQ(firstFreeRegister(), 25);
    registerAt(7)->release();
    EXPECT_EQ(firstFreeRegister(), 7);
}

class ScriptRunner : public TempDirTest {
  protected:
    std::string runScript(const std::string &text) {
        std::string file = path("script.txt");
        writeBytes(file, Bytes(text.begin(), text.end()));
        return maskTiming(captureOutput([&] {
            FILE *in = fopen(file.c_str(), "r");
            runScriptLines(in);
            fclose(in);
        }));
    }
};

TEST_F(ScriptRunner, RunsTheLastLineWithoutANewline) {
    EXPECT_EQ(runScript("Sample one\nSample two"),
              "Sample Command on params `one'\n-- Sample : * sec\n"
              "Sample Command on params `two'\n-- Sample : * sec\n");
}

TEST_F(ScriptRunner, RunsLongLinesWholeAndGoesOnPastOneTooLong) {
    std::string out = runScript("Sample " + std::string(293, 'q') + "\nSample " + std::string(9000, 'r') + "\nSample z\n");
    EXPECT_EQ(out, "Sample Command on params `" + std::string(293, 'q') + "'\n-- Sample : * sec\n" +
                       "Command line of 9007 bytes not run: the most is 4096\n" +
                       "Sample Command on params `z'\n-- Sample : * sec\n");
}

TEST_F(ScriptRunner, StopsAtACommandThatReturnsZero) {
    EXPECT_EQ(runScript("Sample a\nhalt-for-test\nSample b\n"),
              "Sample Command on params `a'\n-- Sample : * sec\n-- halt-for-test : * sec\n");
}

TEST_F(ScriptRunner, NestedScriptsGoOnAfterTheirEnd) {
    writeBytes(path("inner.txt"), Bytes{'h', 'a', 'l', 't', '-', 'f', 'o', 'r', '-', 't', 'e', 's', 't', '\n'});
    std::string out = runScript("script " + path("inner.txt") + " ignored words\nSample after\nscript " +
                                path("missing.txt") + "\n");
    EXPECT_EQ(out, "-- halt-for-test : * sec\n-- script : * sec\n"
                   "Sample Command on params `after'\n-- Sample : * sec\n"
                   "Can't open script `" + path("missing.txt") + "'\n-- script : * sec\n");
}

TEST_F(ScriptRunner, AScriptRunningItselfIsRefusedPastTheNestingLimit) {
    std::string self = path("self.txt");
    writeBytes(self, Bytes());
    std::string text = "script " + self + "\n";
    writeBytes(self, Bytes(text.begin(), text.end()));
    std::string out = runScript(text);
    std::string refusal = "Can't open script `" + self + "'\n";
    ASSERT_NE(out.find(refusal), std::string::npos);
    EXPECT_EQ(out.find(refusal), out.rfind(refusal)); // only the innermost level fails
}
