// In-process the bridge tells the GUI things in the xboard protocol's first
// forms, as the program does until a GUI's first line chooses.
#include <gtest/gtest.h>

#include "xboard.h"

namespace {

class XboardForms : public ::testing::Environment {
public:
    void SetUp() override { use_xboard_front_end(1); }
};

const ::testing::Environment *const forms = ::testing::AddGlobalTestEnvironment(new XboardForms);

}  // namespace
