// The debug frame as a program (a demo of the tests' own): on a terminal inside tmux, driven
// with send-keys and read with capture-pane; and in the line-command mode through pipes.
#include <gtest/gtest.h>

#include <memory>

#include "platform/rtl/Threads.h"
#include "tests/platform/os/OsTestSupport.h"

using ostest::Child;
using ostest::Tmux;

namespace {

const std::string kDemo = DX_BINARY_DIR "/tests/platform/os/demo/dx_frame_demo";

// The demo in tmux, its first screen drawn.
class DebugFrameTerminal : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Tmux::Available()) GTEST_SKIP() << "tmux is not installed (scripts/setup installs it)";
        tmux_ = std::make_unique<Tmux>(kDemo);
        ASSERT_TRUE(tmux_->Ok());
        ASSERT_TRUE(tmux_->WaitFor("[ Start ]  [ Stop ]  [ Fail ]")) << tmux_->Last();
    }
    std::unique_ptr<Tmux> tmux_;
};

TEST_F(DebugFrameTerminal, ButtonsLogViewAndMessagesInTmux) {
    Tmux& tmux = *tmux_;
    EXPECT_NE(tmux.Last().find("Debug form"), std::string::npos);
    EXPECT_NE(
        tmux.Last().find("dx_frame_demo: \xD0\xBF\xD1\x80\xD0\xBE\xD0\xB2\xD0\xB5\xD1\x80\xD0\xBA\xD0\xB0"),
        std::string::npos)
        << "code page 1251 text shown as UTF-8";
    EXPECT_NE(tmux.Last().find("Worker: not created"), std::string::npos);

    tmux.Keys("s");
    ASSERT_TRUE(tmux.WaitFor("tick 4")) << tmux.Last();
    EXPECT_NE(tmux.Last().find("Error: sample error line"), std::string::npos);
    EXPECT_NE(tmux.Last().find("Worker: running"), std::string::npos);

    tmux.Keys("f");
    EXPECT_TRUE(tmux.WaitFor("Sample failure")) << "a raising button shows its message";

    tmux.Keys("Tab Enter");  // from Fail round to Start
    EXPECT_TRUE(tmux.WaitFor("Already started")) << tmux.Last();

    tmux.Keys("t");
    ASSERT_TRUE(tmux.WaitFor("Stopped")) << tmux.Last();
    EXPECT_NE(tmux.Last().find("worker end handler on the main thread: yes"), std::string::npos);
    EXPECT_NE(tmux.Last().find("Worker: not created"), std::string::npos);

    tmux.Keys("q");
    EXPECT_TRUE(tmux.WaitFor("EXIT=0")) << tmux.Last();
}

TEST_F(DebugFrameTerminal, LogViewScrollsAndFollows) {
    Tmux& tmux = *tmux_;
    tmux.Keys("s");
    ASSERT_TRUE(tmux.WaitFor("tick 40", 20000)) << tmux.Last();
    tmux.Keys("t");
    ASSERT_TRUE(tmux.WaitFor("Stopped"));
    EXPECT_EQ(tmux.Last().find("tick 1\n"), std::string::npos) << "the oldest lines are out of view";
    tmux.Keys("Home");
    EXPECT_TRUE(tmux.WaitFor("tick 1\n")) << tmux.Last();
    tmux.Keys("End");
    EXPECT_TRUE(tmux.WaitFor("Stopped")) << tmux.Last();
    tmux.Keys("q");
    EXPECT_TRUE(tmux.WaitFor("EXIT=0"));
}

// A status that changes with no line and no key (here a worker that ends quietly) is drawn anew.
// Before, the screen kept "running" until the next line or key.
TEST(DebugFrameStatus, ChangeWithoutALineIsDrawn) {
    if (!Tmux::Available()) GTEST_SKIP() << "tmux is not installed (scripts/setup installs it)";
    Tmux tmux(kDemo + " --ticks 2");
    ASSERT_TRUE(tmux.Ok());
    ASSERT_TRUE(tmux.WaitFor("[ Start ]")) << tmux.Last();
    tmux.Keys("s");
    ASSERT_TRUE(tmux.WaitFor("tick 2")) << tmux.Last();
    EXPECT_TRUE(tmux.WaitFor("Worker: finished", 3000)) << tmux.Last();
    EXPECT_EQ(tmux.Last().find("tick 3"), std::string::npos) << tmux.Last();
    tmux.Keys("q");
    EXPECT_TRUE(tmux.WaitFor("EXIT=0")) << tmux.Last();
}

TEST(DebugFrameLines, CommandsThroughPipes) {
    Child demo({kDemo});  // not a terminal: line commands
    ASSERT_TRUE(demo.Started());
    ASSERT_TRUE(demo.WaitFor("Debug form\n"));
    demo.Send("help\n");
    ASSERT_TRUE(demo.WaitFor("status, help, quit\n"));
    EXPECT_NE(demo.Output().find("Start (s)\nStop (t)\nFail (f)\n"), std::string::npos);
    demo.Send("START\n");
    ASSERT_TRUE(demo.WaitFor("Error: sample error line\n"));
    demo.Send("status\n");
    EXPECT_TRUE(demo.WaitFor("Worker: running\n"));
    demo.Send("f\n");
    EXPECT_TRUE(demo.WaitFor("Message: Sample failure\n"));
    demo.Send("s\n");
    EXPECT_TRUE(demo.WaitFor("Message: Already started\n"));
    demo.Send("stop\n");
    EXPECT_TRUE(demo.WaitFor("worker end handler on the main thread: yes\nStopped\n"));
    demo.Send("stop\nstop\nnonsense\n");
    EXPECT_TRUE(
        demo.WaitFor("Message: Nothing to stop\nMessage: Nothing to stop\nUnknown command: nonsense\n"));
    demo.Send("quit\n");
    EXPECT_EQ(demo.Wait(), 0) << demo.Output();
}

TEST(DebugFrameLines, StopSignalAndEndOfInputCloseThroughStop) {
    for (bool signal : {true, false}) {
        Child demo({kDemo});
        ASSERT_TRUE(demo.WaitFor("Debug form\n"));
        demo.Send("start\n");
        ASSERT_TRUE(demo.WaitFor("tick 2\n"));
        if (signal)
            demo.Signal(SIGTERM);
        else
            demo.CloseInput();
        EXPECT_EQ(demo.Wait(), 0) << demo.Output();
        EXPECT_NE(demo.Output().find("worker end handler on the main thread: yes\nStopped\n"),
                  std::string::npos)
            << demo.Output();
    }
}

}  // namespace

namespace {

TEST_F(DebugFrameTerminal, ControlCStopsAndCloses) {
    Tmux& tmux = *tmux_;
    tmux.Keys("s");
    ASSERT_TRUE(tmux.WaitFor("tick 2"));
    tmux.Keys("C-c");
    EXPECT_TRUE(tmux.WaitFor("EXIT=0")) << tmux.Last();
}

}  // namespace
