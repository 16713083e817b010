// The Linux dialog stand-in: dialog units to pixels as Windows computes them.
#include <vector>

#include <gtest/gtest.h>

#include "platform/dialog_linux.h"

using namespace vinto;

namespace {

// Dialog units to pixels as Windows rounds them: the average width of the 52
// letters to the nearest pixel (6.48 down, 6.5 up), then each value, halves up.
TEST(LinuxDialogUnits, RoundedAsWindowsRoundsThem) {
    EXPECT_EQ(BaseUnitsFromFont(337, 13).x, 6);
    EXPECT_EQ(BaseUnitsFromFont(338, 16).x, 7);
    const PixelRect dialog = DialogUnitsToPixels(0, 0, 153, 50, {6, 13});  // 229.5 up, 81.25 down
    const PixelRect halves = DialogUnitsToPixels(1, 4, 3, 12, {6, 13});    // 1.5, 6.5, 4.5, 19.5 up
    EXPECT_EQ(std::vector<int>({dialog.width, dialog.height, halves.x, halves.y, halves.width, halves.height}),
              std::vector<int>({230, 81, 2, 7, 5, 20}));
}

}  // namespace
