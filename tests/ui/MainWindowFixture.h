#pragma once
// The main window tests' fixture: the shared main-window rig as a gtest fixture.
#include "support/MainWindowRig.h"

#include "UiTestUtil.h"

#include <gtest/gtest.h>

class TMainWindowTest : public ::testing::Test, public TMainWindowRig {
protected:
    void TearDown() override { Stop(); }
};
