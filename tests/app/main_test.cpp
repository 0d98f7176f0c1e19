// The tool's command line: help and version without a window or a display.
#include <gtest/gtest.h>

#include "tests/support/window_program.h"

namespace {

TEST(ToolCommandLine, AnsweredWithoutADisplay) {
  ExpectWindowProgramCommandLine(QStringLiteral(QX510_TOOL), QStringLiteral("qx510"),
                                 {QStringLiteral("--help"), QStringLiteral("--version")});
}

}  // namespace
