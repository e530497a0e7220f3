#include "video/flashwnd.h"

#include <QImage>
#include <QPointer>
#include <gtest/gtest.h>
#include <utility>
#include <vector>

namespace {

using TRuns = std::vector<std::pair<int, int>>; // (first pixel, length)

// The stretches of Region along a line of Length pixels: row Line, or column Line when Vertical.
TRuns Runs(const QRegion& Region, int Line, int Length, bool Vertical) {
    TRuns runs;
    for (int i = 0; i < Length; ++i) {
        const bool inside = Region.contains(Vertical ? QPoint(Line, i) : QPoint(i, Line));
        if (inside && (runs.empty() || runs.back().first + runs.back().second != i))
            runs.push_back({i, 0});
        if (inside)
            ++runs.back().second;
    }
    return runs;
}

TRuns Row(const QRegion& Region, int Y, int Width) {
    return Runs(Region, Y, Width, false);
}
TRuns Column(const QRegion& Region, int X, int Height) {
    return Runs(Region, X, Height, true);
}

class FlashingWndTest : public testing::Test {
protected:
    QWidget Owner;
    QPointer<TFlashingWnd> Window = new TFlashingWnd(&Owner, QRect(100, 200, 598, 428));
};

TEST_F(FlashingWndTest, IsAHiddenFocuslessTopLevelOfItsOwner) {
    EXPECT_TRUE(Window->isWindow());
    EXPECT_TRUE(Window->isHidden());
    EXPECT_EQ(Window->parentWidget(), &Owner);
    EXPECT_EQ(Window->geometry(), QRect(100, 200, 598, 428)) << "over the player until the first fit";
    EXPECT_TRUE(Window->Region().isEmpty());
    const Qt::WindowFlags flags = Window->windowFlags();
    for (Qt::WindowType flag : {Qt::FramelessWindowHint, Qt::WindowStaysOnTopHint,
                                Qt::WindowDoesNotAcceptFocus, Qt::WindowTransparentForInput})
        EXPECT_TRUE(flags.testFlag(flag)) << flag;
    EXPECT_TRUE(Window->testAttribute(Qt::WA_ShowWithoutActivating));

    Owner.show();
    EXPECT_TRUE(Window->isHidden()) << "showing the owner leaves it hidden";
}

TEST(FlashingWndOwnerTest, GoesWithItsOwner) {
    auto* owner = new QWidget;
    QPointer<TFlashingWnd> window = new TFlashingWnd(owner, QRect(0, 0, 50, 50));
    delete owner;
    EXPECT_TRUE(window.isNull());
}

TEST_F(FlashingWndTest, BracketsSitInAMarginAroundTheCaptureRectangle) {
    Window->FitToRegion(100, 200, 598, 428);
    EXPECT_EQ(Window->geometry(), QRect(92, 192, 614, 444));
    const auto capture = Window->CaptureRect();
    EXPECT_EQ((std::vector<int>{capture.left, capture.top, capture.right, capture.bottom}),
              (std::vector<int>{100, 200, 697, 627}));

    const QRegion shape = Window->Region();
    EXPECT_EQ(Window->mask(), shape);
    // The hole covers columns 8..606 and rows 8..436.
    EXPECT_TRUE(shape.intersected(QRect(QPoint(8, 8), QPoint(606, 436))).isEmpty());
    EXPECT_TRUE(QRegion(Window->rect()).subtracted(shape).contains(QPoint(307, 222)));

    // Thickness: 8 on the left and top, 7 on the right and bottom.
    EXPECT_EQ(Row(shape, 12, 614), (TRuns{{0, 8}, {607, 7}}));
    EXPECT_EQ(Row(shape, 430, 614), (TRuns{{0, 8}, {607, 7}}));
    EXPECT_EQ(Column(shape, 12, 444), (TRuns{{0, 8}, {437, 7}}));
    EXPECT_EQ(Column(shape, 600, 444), (TRuns{{0, 8}, {437, 7}}));
    // Arms: 24 pixels from the top or left edge, 27 from the right or bottom edge.
    EXPECT_EQ(Row(shape, 0, 614), (TRuns{{0, 24}, {587, 27}}));
    EXPECT_EQ(Row(shape, 443, 614), (TRuns{{0, 24}, {587, 27}}));
    EXPECT_EQ(Column(shape, 0, 444), (TRuns{{0, 24}, {417, 27}}));
    EXPECT_EQ(Column(shape, 613, 444), (TRuns{{0, 24}, {417, 27}}));
    EXPECT_EQ(Row(shape, 200, 614), TRuns{}) << "nothing between the arms";
}

TEST_F(FlashingWndTest, FittingAgainReplacesTheShape) {
    Window->FitToRegion(100, 200, 598, 428);
    Window->FitToRegion(10, 20, 100, 50);
    EXPECT_EQ(Window->geometry(), QRect(2, 12, 116, 66));

    TFlashingWnd fresh(nullptr, QRect());
    fresh.FitToRegion(10, 20, 100, 50);
    EXPECT_EQ(Window->Region(), fresh.Region());
    EXPECT_EQ(Window->mask(), fresh.Region());
    EXPECT_EQ(Window->Region().boundingRect(), QRect(0, 0, 116, 66));
}

TEST(FlashingWndSizeTest, SmallRectanglesStillGetFourBracketsOutsideTheHole) {
    const std::pair<int, int> sizes[] = {{0, 0},   {1, 1},   {2, 3},   {10, 10}, {34, 34},
                                         {35, 35}, {36, 36}, {1, 200}, {200, 1}};
    for (const auto& [w, h] : sizes) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        TFlashingWnd window(nullptr, QRect());
        window.FitToRegion(50, 60, w, h);
        const QRegion shape = window.Region();
        const int width = w + 16, height = h + 16;
        EXPECT_EQ(window.geometry(), QRect(42, 52, width, height));
        EXPECT_TRUE(shape.subtracted(QRect(0, 0, width, height)).isEmpty());
        EXPECT_TRUE(shape.intersected(QRect(8, 8, w + 1, h + 1)).isEmpty()) << "the hole stays clear";
        // Every edge is cut once between its two corners, so the brackets are four separate pieces, each
        // arm at least as long as the bracket is thick.
        for (const TRuns& edge : {Row(shape, 0, width), Row(shape, height - 1, width)}) {
            ASSERT_EQ(edge.size(), 2u);
            EXPECT_EQ(edge[0].first, 0);
            EXPECT_GE(edge[0].second, 8);
            EXPECT_EQ(edge[1].first + edge[1].second, width);
            EXPECT_GE(edge[1].second, 7);
        }
        for (const TRuns& edge : {Column(shape, 0, height), Column(shape, width - 1, height)}) {
            ASSERT_EQ(edge.size(), 2u);
            EXPECT_EQ(edge[0].first, 0);
            EXPECT_GE(edge[0].second, 8);
            EXPECT_EQ(edge[1].first + edge[1].second, height);
            EXPECT_GE(edge[1].second, 7);
        }
    }
}

TEST_F(FlashingWndTest, BracketsArePaintedInTheHighlightColourWhateverTheMarkColour) {
    Window->FitToRegion(100, 200, 598, 428);
    Window->SetMarkColor(0x00B4FFFF);
    QImage image(Window->size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    Window->render(&image);
    EXPECT_EQ(image.pixel(3, 3), Window->palette().color(QPalette::Highlight).rgba());
    EXPECT_EQ(image.pixel(610, 440), Window->palette().color(QPalette::Highlight).rgba());
}

} // namespace
