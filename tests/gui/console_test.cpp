// The console window: its layout, and what a typed line does.
#include "gui_support.h"

#include <FL/Fl_Input.H>
#include <FL/Fl_Value_Slider.H>
#include <FL/fl_draw.H>

namespace {

// A command that notes whether the windows showed the busy cursor while it ran.
bool busyWhileRunning = false;
FunctionCommand busyProbe("busy-probe-for-test", nullptr, "notes the busy cursor", [](const Command &, char *) {
    busyWhileRunning = commandRunning();
    return 1;
});
struct ProbeRegistration {
    ProbeRegistration() { registerCommands({&busyProbe}); }
} probeRegistration;

class ConsoleTest : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        console->window->show();
        console->window->wait_for_expose();
    }
    // Types a line into the input field and presses Enter.
    std::string type(const char *line) {
        console->input->value(line);
        console->input->set_changed();
        Fl::focus(console->input);
        return captureOutput([&] { sendKey(console->window, FL_Enter, "\r"); });
    }
};

TEST_F(ConsoleTest, IsBuiltOnceAsTheDestinationOfConsoleOutput) {
    EXPECT_STREQ(console->window->label(), "Compositor Console");
    EXPECT_EQ(consoleOutput, console->output);
    EXPECT_EQ(startConsole(), console);
    EXPECT_TRUE(requireWindowedMode("IW"));
}

TEST_F(ConsoleTest, ATypedLineIsEchoedRunTimedAndRefreshesEveryWindow) {
    fill('A', 8, 6);
    ImageWindow *a = openWindow('A');
    openWindow('B');
    a->window->hide(); // hidden windows are refreshed too
    for (int i = 0; i < 40; ++i) consolePrint("filler %d\n", i);

    std::string out = type("Sample  x y ");
    Lines lines = consoleLines();
    ASSERT_GE(lines.size(), 3u);
    Lines last(lines.end() - 3, lines.end());
    last[2] = maskTiming(last[2]);
    EXPECT_EQ(last, Lines({"@C4@.Sample  x y ", "@C0@.Sample Command on params `x y '\n",
                           "@C1@.-- Sample : * sec\n"}));
    EXPECT_STREQ(console->input->value(), "");
    EXPECT_EQ(out, "reset image B\nreset image A\n");
    Fl::check(); // the list works out its top line when it draws
    EXPECT_TRUE(console->output->displayed(console->output->size()));
    EXPECT_FALSE(console->output->displayed(1));

    // A line that names no command refreshes the windows all the same.
    out = type("nosuch 1");
    EXPECT_EQ(consoleLines().back(), "@C1@.Command `nosuch' not implemented!\n");
    EXPECT_EQ(out, "reset image B\nreset image A\n");
}

TEST_F(ConsoleTest, AScriptTypedInRunsAllItsLinesBeforeTheRefresh) {
    std::ofstream(path("s.txt")) << "Sample a\nSample b\n";
    openWindow('C');
    console->output->clear();
    std::string out = type(("script " + path("s.txt")).c_str());
    EXPECT_EQ(commandLines(), Lines({"script " + path("s.txt"), "Sample a\n", "Sample b\n"}));
    EXPECT_EQ(maskTiming(consoleLines().back()), "@C1@.-- script : * sec\n");
    EXPECT_EQ(out, "reset image C\n");
}

TEST_F(ConsoleTest, TheInputIsLabelledAndUpAndDownRecallTypedLines) {
    const int labelWidth = (int)fl_width(console->input->label()), left = console->input->x();
    EXPECT_GE(left - labelWidth, 0); // the label lies inside the window
    type("Sample one");
    type("Sample two");
    auto press = [&](int key) {
        Fl::focus(console->input);
        sendKey(console->window, key, "");
        return std::string(console->input->value());
    };
    EXPECT_EQ(press(FL_Up), "Sample two");
    EXPECT_EQ(press(FL_Up), "Sample one");
    EXPECT_EQ(press(FL_Down), "Sample two");
    EXPECT_EQ(press(FL_Down), "");
    EXPECT_EQ(press(FL_Down), "");
    press(FL_Up);
    console->output->clear();
    type(console->input->value()); // a recalled line runs like a typed one
    EXPECT_EQ(commandLines(), Lines({"Sample two"}));
}

TEST_F(ConsoleTest, EscapeLeavesTheConsoleAndTheCloseButtonHidesIt) {
    sendKey(console->window, FL_Escape, "\x1b");
    EXPECT_TRUE(console->window->shown());
    Fl::handle(FL_CLOSE, console->window); // the window manager's close button
    EXPECT_FALSE(console->window->shown());
}

TEST_F(ConsoleTest, MenuShortcutsWorkWhateverHasTheFocus) {
    fill('A', 8, 6);
    ImageWindow *w = openWindow('A');
    w->window->show();
    pick(w, "Required/Darken");
    Fl::focus(w->paramSlider); // where Tab would move the focus
    console->output->clear();
    captureOutput([&] { sendKey(w->window, FL_Tab, "\t"); });
    EXPECT_EQ(commandLines(), Lines({"help"}));
}

TEST_F(ConsoleTest, TheWindowsShowTheyAreBusyWhileACommandRuns) {
    busyWhileRunning = false;
    type("busy-probe-for-test");
    EXPECT_TRUE(busyWhileRunning);
    EXPECT_FALSE(commandRunning());
}

} // namespace
