// The progress bar moves, and messages are pumped, only when the value changes.
#include <gtest/gtest.h>
#include <windows.h>

#include "ui/dialogs.h"

namespace {

bool MessageWaiting() {
    MSG message;
    return PeekMessageA(&message, NULL, WM_USER, WM_USER, PM_NOREMOVE) != 0;
}

TEST(Progress, ClampsAndPumpsOnlyOnChange) {
    LastProgress = 0;
    PostThreadMessageA(GetCurrentThreadId(), WM_USER, 0, 0);
    SetProgress(0);  // unchanged: no pumping
    EXPECT_TRUE(MessageWaiting());
    SetProgress(250);
    EXPECT_EQ(100u, LastProgress);
    EXPECT_FALSE(MessageWaiting());
    PostThreadMessageA(GetCurrentThreadId(), WM_USER, 0, 0);
    SetProgress(100);
    EXPECT_TRUE(MessageWaiting());
    SetProgress(40);  // moving back is a change like any other
    EXPECT_EQ(40u, LastProgress);
    EXPECT_FALSE(MessageWaiting());
}

}  // namespace
