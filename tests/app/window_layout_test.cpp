#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

#include "app/window_layout.h"

namespace {

struct Expected {
    Slot slot;
    Placement placement;
};

void ExpectLayout(const WindowLayout& layout, std::initializer_list<Expected> expected) {
    for (const Expected& item : expected) {
        const Placement& actual = PlacementOf(layout, item.slot);
        SCOPED_TRACE(static_cast<int>(item.slot));
        EXPECT_EQ(actual.x, item.placement.x);
        EXPECT_EQ(actual.y, item.placement.y);
        EXPECT_EQ(actual.width, item.placement.width);
        EXPECT_EQ(actual.height, item.placement.height);
    }
}

TEST(WindowLayout, DefaultClientAreaAt96Dpi) {
    ExpectLayout(ComputeLayout(760, 460, 96), {
                                                  {Slot::Icon, {28, 18, 72, 72}},
                                                  {Slot::Header, {120, 18, 612, 42}},
                                                  {Slot::Subtitle, {120, 60, 612, 28}},
                                                  {Slot::Status, {28, 110, 704, 28}},
                                                  {Slot::Detail, {28, 145, 704, 28}},
                                                  {Slot::TotalLabel, {28, 185, 704, 20}},
                                                  {Slot::TotalBar, {28, 210, 704, 22}},
                                                  {Slot::FileLabel, {28, 244, 704, 20}},
                                                  {Slot::FileBar, {28, 269, 704, 22}},
                                                  {Slot::Counts, {28, 305, 704, 28}},
                                                  {Slot::Rate, {28, 360, 704, 20}},
                                                  {Slot::Repair, {28, 390, 175, 48}},
                                                  {Slot::Play, {557, 390, 175, 48}},
                                              });
}

// Each number is scaled on its own (MulDiv rounds halves up), so 145 × 1.5
// comes out as 165 + 42 + 11 = 218, not 217.5.
TEST(WindowLayout, BaseClientAreaAt144Dpi) {
    const ClientSize base = BaseClientSize(144);
    EXPECT_EQ(base.width, 1140);
    EXPECT_EQ(base.height, 690);
    ExpectLayout(ComputeLayout(1140, 690, 144), {
                                                    {Slot::Icon, {42, 27, 108, 108}},
                                                    {Slot::Header, {180, 27, 918, 63}},
                                                    {Slot::Subtitle, {180, 90, 918, 42}},
                                                    {Slot::Status, {42, 165, 1056, 42}},
                                                    {Slot::Detail, {42, 218, 1056, 42}},
                                                    {Slot::TotalLabel, {42, 278, 1056, 30}},
                                                    {Slot::TotalBar, {42, 316, 1056, 33}},
                                                    {Slot::FileLabel, {42, 367, 1056, 30}},
                                                    {Slot::FileBar, {42, 405, 1056, 33}},
                                                    {Slot::Counts, {42, 459, 1056, 42}},
                                                    {Slot::Rate, {42, 540, 1056, 30}},
                                                    {Slot::Repair, {42, 585, 263, 72}},
                                                    {Slot::Play, {835, 585, 263, 72}},
                                                });
}

TEST(WindowLayout, ButtonsAreAFifthOfTheWidthWithinLimits) {
    for (const auto& [width, buttonWidth] : {std::pair{760, 175}, {800, 175}, {1000, 200}, {1200, 220}, {1500, 220}}) {
        const WindowLayout layout = ComputeLayout(width, 460, 96);
        EXPECT_EQ(PlacementOf(layout, Slot::Repair).width, buttonWidth) << width;
        EXPECT_EQ(PlacementOf(layout, Slot::Play).width, buttonWidth) << width;
        EXPECT_EQ(PlacementOf(layout, Slot::Play).x, width - buttonWidth - 28) << width;
    }
}

TEST(WindowLayout, NarrowAndEmptyClientAreasKeepMinimumWidths) {
    const WindowLayout narrow = ComputeLayout(200, 300, 96);
    EXPECT_EQ(PlacementOf(narrow, Slot::Status).width, 240);
    EXPECT_EQ(PlacementOf(narrow, Slot::Header).width, 220);
    EXPECT_EQ(PlacementOf(narrow, Slot::Repair).y, 300 - 48 - 22);

    // A minimised window reports 0 × 0: laid out as 1 × 1.
    const WindowLayout empty = ComputeLayout(0, 0, 96);
    EXPECT_EQ(PlacementOf(empty, Slot::Repair).y, 1 - 48 - 22);
    EXPECT_EQ(PlacementOf(empty, Slot::Play).x, 1 - 175 - 28);
}

TEST(WindowLayout, UnknownDpiCountsAs96) {
    EXPECT_EQ(ScaleForDpi(175, 0), 175);
    EXPECT_EQ(ScaleForDpi(7, 144), 11);
    EXPECT_EQ(ScaleForDpi(175, 120), 219);
}

// A frame of 6 × 29 pixels, as a caption and thin border add at 96 DPI.
TEST(WindowFitting, ClientAreaShrinksToTheWorkAreaWithinLimits) {
    const ClientSize roomy = FitClientSize(1366, 728, 6, 29, 96);
    EXPECT_EQ(roomy.width, 760);
    EXPECT_EQ(roomy.height, 460);

    const ClientSize narrow = FitClientSize(800, 560, 6, 29, 96);
    EXPECT_EQ(narrow.width, 800 - 48 - 6);
    EXPECT_EQ(narrow.height, 460);

    const ClientSize tiny = FitClientSize(500, 400, 6, 29, 96);
    EXPECT_EQ(tiny.width, 480);
    EXPECT_EQ(tiny.height, 360);
}

TEST(WindowFitting, MarginsAndLimitsScaleWithTheDpi) {
    const ClientSize roomy = FitClientSize(2560, 1400, 9, 44, 144);
    EXPECT_EQ(roomy.width, 1140);
    EXPECT_EQ(roomy.height, 690);

    // 1280 × 800 at 144 DPI: 800 − 72 − 44 leaves 684 of the 690 rows.
    const ClientSize fitted = FitClientSize(1280, 800, 9, 44, 144);
    EXPECT_EQ(fitted.width, 1140);
    EXPECT_EQ(fitted.height, 684);

    const ClientSize tiny = FitClientSize(700, 500, 9, 44, 144);
    EXPECT_EQ(tiny.width, 720);
    EXPECT_EQ(tiny.height, 540);
}

TEST(WindowFitting, MinimumTrackSizeIsTheBaseSizeWithinTheWorkArea) {
    EXPECT_EQ(MinimumTrackSize(true, 1366, 728, 96).width, 760);
    EXPECT_EQ(MinimumTrackSize(true, 1366, 728, 96).height, 460);
    EXPECT_EQ(MinimumTrackSize(true, 700, 400, 96).width, 700);
    EXPECT_EQ(MinimumTrackSize(true, 700, 400, 96).height, 400);
    EXPECT_EQ(MinimumTrackSize(false, 0, 0, 144).width, 1140);
    EXPECT_EQ(MinimumTrackSize(false, 0, 0, 144).height, 690);
}

}  // namespace
