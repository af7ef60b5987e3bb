// The table-driven layout engine on its own: every constraint type and edge
// code, the order in which rows see each other, and the overlap test.
#include "fakes/FakeWindow.h"
#include "ui/DialogLayout.h"

#include <gtest/gtest.h>

namespace {
using L = CDialogLayout;

constexpr LayoutConstraint Off(int32_t id, int32_t edge) { return {L::Offset, id, edge}; }
constexpr LayoutConstraint Prop(int32_t id, int32_t edge) { return {L::Proportional, id, edge}; }
constexpr LayoutConstraint KeepW() { return {L::KeepWidth, 0, 0}; }
constexpr LayoutConstraint KeepH() { return {L::KeepHeight, 0, 0}; }

// Ids that the fake window does not know until a test places them.
constexpr int A = 501;
constexpr int B = 502;
constexpr int C = 503;
constexpr int Missing = 599;

// A row that keeps every edge at its distance from the same edge of the window.
constexpr LayoutRule Pinned(int32_t id)
{
    return {id, Off(0, L::Left), Off(0, L::Top), Off(0, L::Right), Off(0, L::Bottom)};
}
// A row that keeps its size and its distance from the window's bottom-right.
constexpr LayoutRule BottomRight(int32_t id)
{
    return {id, Off(0, L::Right), Off(0, L::Bottom), KeepW(), KeepH()};
}

class DialogLayoutTest : public ::testing::Test {
protected:
    void Place(int id, const Rect& r, bool visible = true, bool clipSiblings = false)
    {
        FakeControl c;
        c.rect = r;
        c.visible = visible;
        c.clipSiblings = clipSiblings;
        window.SetControl(id, c);
    }
    Rect At(int id) { return window.Control(id).rect; }

    FakeWindow window;
    CDialogLayout layout;
};

TEST_F(DialogLayoutTest, RelayoutBeforeInitOrWithoutRowsChangesNothing)
{
    window.SetClientRect({0, 0, 100, 100});
    Place(A, {10, 10, 20, 20});
    window.SetClientRect({0, 0, 300, 300});
    layout.Relayout();
    EXPECT_EQ(At(A), (Rect{10, 10, 20, 20}));

    const LayoutRule table[] = {Pinned(A)};
    layout.Init(&window, nullptr, table, 0);
    layout.Relayout();
    EXPECT_EQ(At(A), (Rect{10, 10, 20, 20}));
}

TEST_F(DialogLayoutTest, OffsetKeepWidthAndKeepHeight)
{
    window.SetClientRect({0, 0, 100, 80});
    Place(A, {10, 5, 90, 60});
    Place(B, {70, 65, 95, 75});
    const LayoutRule table[] = {Pinned(A), BottomRight(B)};
    EXPECT_TRUE(layout.Init(&window, nullptr, table, 2));

    window.SetClientRect({0, 0, 130, 120});
    layout.Relayout();
    EXPECT_EQ(At(A), (Rect{10, 5, 120, 100}));
    EXPECT_EQ(At(B), (Rect{100, 105, 125, 115}));

    // Keep width and keep height ignore their reference id and edge.
    const LayoutRule odd[] = {{A, Off(0, L::Left), Off(0, L::Top), {L::KeepWidth, B, L::Left},
                               {L::KeepHeight, B, L::Top}}};
    Place(A, {10, 5, 90, 60});
    window.SetClientRect({0, 0, 100, 80});
    layout.Init(&window, nullptr, odd, 1);
    window.SetClientRect({0, 0, 400, 400});
    layout.Relayout();
    EXPECT_EQ(At(A), (Rect{10, 5, 90, 60}));
}

TEST_F(DialogLayoutTest, ProportionalMultipliesFirstAndTruncatesTowardZero)
{
    window.SetClientRect({0, 0, 100, 70});
    Place(A, {33, 10, 67, 20});
    // Left and right scaled from the window's left and right edges; the top
    // from the window's top with the height ratio.
    const LayoutRule table[] = {{A, Prop(0, L::Left), Prop(0, L::Top), Prop(0, L::Right), KeepH()}};
    layout.Init(&window, nullptr, table, 1);

    window.SetClientRect({0, 0, 50, 30});
    layout.Relayout();
    // 33 * 50 / 100 = 16.5 -> 16; (67 - 100) * 50 / 100 = -16.5 -> -16 (not -17);
    // 10 * 30 / 70 = 4.28 -> 4 (dividing first would give 0).
    EXPECT_EQ(At(A), (Rect{16, 4, 34, 14}));

    window.SetClientRect({0, 0, 300, 210});
    layout.Relayout();
    EXPECT_EQ(At(A), (Rect{99, 30, 201, 40}));
}

TEST_F(DialogLayoutTest, ProportionalWithEmptyOrInvertedInitialExtentDividesByOne)
{
    window.SetClientRect({0, 0, 10, 10});
    Place(A, {3, 2, 5, 4});
    const LayoutRule table[] = {{A, Prop(0, L::Left), Prop(0, L::Top), KeepW(), KeepH()}};

    const Rect empty{0, 0, 0, 0};
    layout.Init(&window, &empty, table, 1);
    layout.Relayout();
    EXPECT_EQ(At(A), (Rect{30, 20, 32, 22}));

    const Rect inverted{0, 0, -5, -7};
    Place(A, {3, 2, 5, 4});
    layout.Init(&window, &inverted, table, 1);
    layout.Relayout();
    EXPECT_EQ(At(A), (Rect{30, 20, 32, 22}));
}

TEST_F(DialogLayoutTest, CentreEdgesTruncateTowardZero)
{
    window.SetClientRect({0, 0, 101, 51});
    Place(A, {40, 20, 60, 30});
    // Centred on the window: left and right from the horizontal centre, top
    // and bottom from the vertical centre.
    const LayoutRule table[] = {
        {A, Off(0, L::CentreX), Off(0, L::CentreY), Off(0, L::CentreX), Off(0, L::CentreY)}};
    layout.Init(&window, nullptr, table, 1);

    window.SetClientRect({0, 0, 201, 151});
    layout.Relayout();
    EXPECT_EQ(At(A), (Rect{90, 70, 110, 80}));

    // (-5 + 0) / 2 is -2 and (-3 + 0) / 2 is -1, not -3 and -2.
    window.SetClientRect({-5, -3, 0, 0});
    layout.Relayout();
    EXPECT_EQ(At(A), (Rect{-12, -6, 8, 4}));
}

TEST_F(DialogLayoutTest, ProportionalFromACentreUsesTheExtentOfThePlacedEdge)
{
    window.SetClientRect({0, 0, 100, 40});
    Place(A, {60, 30, 70, 35});
    // Left from the horizontal centre scaled by the width; top from the
    // horizontal centre too, but scaled by the height, the top edge's axis.
    const LayoutRule table[] = {{A, Prop(0, L::CentreX), Prop(0, L::CentreX), KeepW(), KeepH()}};
    layout.Init(&window, nullptr, table, 1);

    window.SetClientRect({0, 0, 200, 80});
    layout.Relayout();
    // Left: 100 + (60 - 50) * 200 / 100 = 120. Top: 100 + (30 - 50) * 80 / 40 = 60.
    EXPECT_EQ(At(A), (Rect{120, 60, 130, 65}));
}

TEST_F(DialogLayoutTest, UnknownTypesGiveZeroAndUnknownEdgesCountAsZero)
{
    window.SetClientRect({0, 0, 100, 100});
    Place(A, {10, 20, 30, 40});
    const LayoutRule table[] = {{A, {7, 0, L::Left}, Off(0, 9), {L::None, 0, L::Right}, Off(0, 0)}};
    layout.Init(&window, nullptr, table, 1);
    window.SetClientRect({0, 0, 250, 250});
    layout.Relayout();
    // Type 7 and type 0: 0. An unknown reference edge is the coordinate 0
    // before and after, so the edge keeps its own initial value.
    EXPECT_EQ(At(A), (Rect{0, 20, 0, 40}));
}

TEST_F(DialogLayoutTest, RowsSeeOnlyThemselvesAndTheRowsBefore)
{
    window.SetClientRect({0, 0, 100, 100});
    Place(A, {10, 10, 20, 20});
    Place(B, {50, 60, 70, 80});
    // A refers to B, which comes later: B's new rectangle is not visible yet
    // and counts as all zero, while B's initial rectangle is known.
    // B's top refers to B's own left, already computed in this pass.
    const LayoutRule table[] = {
        {A, Off(B, L::Left), Off(0, L::Top), KeepW(), KeepH()},
        {B, Off(0, L::Right), Off(B, L::Left), KeepW(), KeepH()},
    };
    layout.Init(&window, nullptr, table, 2);
    window.SetClientRect({0, 0, 140, 100});
    layout.Relayout();
    EXPECT_EQ(At(A), (Rect{10 - 50, 10, 20 - 50, 20}));
    EXPECT_EQ(At(B), (Rect{90, 90 + (60 - 50), 110, 120}));
}

TEST_F(DialogLayoutTest, AMissingControlIsComputedButNeitherMovedNorInTheOverlapTest)
{
    window.SetClientRect({0, 0, 100, 100});
    Place(A, {10, 10, 30, 30});
    Place(B, {40, 10, 60, 30});
    // A missing control's initial rectangle counts as all zero; grown with
    // the window it would cover A and B. B follows its left edge.
    const LayoutRule table[] = {
        Pinned(Missing),
        {A, Off(0, L::Left), Off(0, L::Top), KeepW(), KeepH()},
        {B, Off(Missing, L::Left), Off(0, L::Top), KeepW(), KeepH()},
    };
    layout.Init(&window, nullptr, table, 3);
    window.SetClientRect({0, 0, 150, 150});
    layout.Relayout();
    EXPECT_FALSE(window.ControlExists(Missing));
    EXPECT_EQ(At(A), (Rect{10, 10, 30, 30}));
    EXPECT_EQ(At(B), (Rect{40, 10, 60, 30}));

    // The same rectangle from a control that exists does empty both.
    Place(Missing, {});
    Place(A, {10, 10, 30, 30});
    window.SetClientRect({0, 0, 100, 100});
    layout.Init(&window, nullptr, table, 3);
    window.SetClientRect({0, 0, 150, 150});
    layout.Relayout();
    EXPECT_EQ(At(Missing), (Rect{0, 0, 50, 50}));
    EXPECT_EQ(At(A), Rect{});
    EXPECT_EQ(At(B), Rect{});
}

TEST_F(DialogLayoutTest, ALaterRowThatWouldOverlapIsEmptiedUntilThereIsRoom)
{
    window.SetClientRect({0, 0, 200, 100});
    Place(A, {10, 10, 60, 30});
    Place(B, {120, 10, 170, 30}); // keeps its distance from the right edge
    Place(C, {130, 40, 150, 50}); // follows B
    const LayoutRule table[] = {
        {A, Off(0, L::Left), Off(0, L::Top), KeepW(), KeepH()},
        {B, Off(0, L::Right), Off(0, L::Top), KeepW(), KeepH()},
        {C, Off(B, L::Left), Off(B, L::Top), KeepW(), KeepH()},
    };
    layout.Init(&window, nullptr, table, 3);

    window.SetClientRect({0, 0, 120, 100});
    layout.Relayout();
    EXPECT_EQ(At(A), (Rect{10, 10, 60, 30}));
    EXPECT_EQ(At(B), Rect{});
    // C is still placed from where B would have been.
    EXPECT_EQ(At(C), (Rect{50, 40, 70, 50}));

    window.SetClientRect({0, 0, 200, 100});
    layout.Relayout();
    EXPECT_EQ(At(B), (Rect{120, 10, 170, 30}));
}

TEST_F(DialogLayoutTest, AnEmptiedRowNoLongerOverlapsTheRowsAfterIt)
{
    window.SetClientRect({0, 0, 100, 100});
    Place(A, {0, 0, 20, 20});
    Place(B, {10, 10, 40, 40}); // overlaps A
    Place(C, {30, 30, 50, 50}); // overlaps only B
    const LayoutRule table[] = {Pinned(A), Pinned(B), Pinned(C)};
    layout.Init(&window, nullptr, table, 3);
    layout.Relayout();
    EXPECT_EQ(At(A), (Rect{0, 0, 20, 20}));
    EXPECT_EQ(At(B), Rect{});
    EXPECT_EQ(At(C), (Rect{30, 30, 50, 50}));
}

TEST_F(DialogLayoutTest, HiddenAndClipSiblingsControlsTakeNoPartInTheOverlapTest)
{
    struct Case {
        const char* name;
        bool firstVisible, firstClip, secondVisible, secondClip;
        bool secondEmptied;
    };
    const Case cases[] = {
        {"both visible", true, false, true, false, true},
        {"earlier hidden", false, false, true, false, false},
        {"later hidden", true, false, false, false, false},
        {"earlier clips siblings", true, true, true, false, false},
        {"later clips siblings", true, false, true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        window.SetClientRect({0, 0, 100, 100});
        Place(A, {0, 0, 30, 30}, c.firstVisible, c.firstClip);
        Place(B, {20, 20, 50, 50}, c.secondVisible, c.secondClip);
        const LayoutRule table[] = {Pinned(A), Pinned(B)};
        layout.Init(&window, nullptr, table, 2);
        window.SetClientRect({0, 0, 110, 120});
        layout.Relayout();
        EXPECT_EQ(At(A), (Rect{0, 0, 40, 50}));
        EXPECT_EQ(At(B), (c.secondEmptied ? Rect{} : Rect{20, 20, 60, 70}));
    }
}

TEST_F(DialogLayoutTest, InvertedRectanglesArePassedOnUnchanged)
{
    window.SetClientRect({0, 0, 100, 100});
    Place(A, {10, 10, 90, 90});
    const LayoutRule table[] = {Pinned(A)};
    layout.Init(&window, nullptr, table, 1);
    window.SetClientRect({0, 0, 0, 0}); // minimised
    layout.Relayout();
    EXPECT_EQ(At(A), (Rect{10, 10, -10, -10}));
}

TEST_F(DialogLayoutTest, ANewInitStartsFromTheLayoutOfThatMoment)
{
    window.SetClientRect({0, 0, 100, 100});
    Place(A, {10, 10, 20, 20});
    Place(B, {30, 30, 40, 40});
    const LayoutRule first[] = {BottomRight(A), BottomRight(B)};
    layout.Init(&window, nullptr, first, 2);
    window.SetClientRect({0, 0, 150, 100});
    layout.Relayout();
    ASSERT_EQ(At(B), (Rect{80, 30, 90, 40}));

    // B is no longer in the table; A's new initial place is where it is now.
    const LayoutRule second[] = {BottomRight(A)};
    layout.Init(&window, nullptr, second, 1);
    window.SetClientRect({0, 0, 170, 110});
    layout.Relayout();
    EXPECT_EQ(At(A), (Rect{80, 20, 90, 30}));
    EXPECT_EQ(At(B), (Rect{80, 30, 90, 40}));
}

} // namespace
