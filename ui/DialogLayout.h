#pragma once
#include "platform/Geometry.h"
#include "platform/Window.h"

#include <cstdint>
#include <vector>

// The rule for one edge of a control: type 0 none, 1 offset, 2 proportional,
// 3 keep width, 4 keep height; reference id 0 is the owner's client area;
// edge codes 1 left, 2 top, 3 right, 4 bottom, 5 horizontal and 6 vertical centre.
struct LayoutConstraint {
    int32_t type = 0;
    int32_t referenceId = 0;
    int32_t referenceEdge = 0;
};

// One row of a layout table: a control and the rules for its four edges.
struct LayoutRule {
    int32_t id = 0;
    LayoutConstraint left;
    LayoutConstraint top;
    LayoutConstraint right;
    LayoutConstraint bottom;
};

// Table-driven placement of a dialog's controls. Every pass starts again
// from the initial layout, so repeated size changes accumulate no error.
class CDialogLayout {
public:
    enum ConstraintType : int32_t { None = 0, Offset = 1, Proportional = 2, KeepWidth = 3, KeepHeight = 4 };
    enum Edge : int32_t { Left = 1, Top = 2, Right = 3, Bottom = 4, CentreX = 5, CentreY = 6 };

    // Records the initial rectangles; `rect` (or the client area when null)
    // is the owner's initial client rectangle. The table is not copied and
    // must outlive the layout. Always true.
    bool Init(IWindow* owner, const Rect* rect, const LayoutRule* table, int32_t count);
    // Places every control again from the initial layout and the current
    // client area; does nothing before Init.
    void Relayout();

private:
    struct Item {
        Rect initial;
        const LayoutRule* rule = nullptr;
    };
    struct Computed {
        int32_t id = 0;
        Rect rect;
        bool participates = false;
        bool overlapping = false;
        bool exists = false; // a missing control is computed but never moved
    };

    void ComputeRow(int32_t i, const Rect& client);
    void ApplyRow(int32_t i);
    int32_t ComputeEdge(int32_t edge, const LayoutConstraint& c, const Item& item, const Rect& self,
                        const Rect& client) const;
    Rect InitialRect(int32_t id) const;
    Rect CurrentRect(int32_t id, const Rect& client) const;

    IWindow* m_owner = nullptr;
    Rect m_initialClient;
    std::vector<Item> m_items;
    int32_t m_count = 0;
    std::vector<Computed> m_computed;
    int32_t m_visible = 0; // computed entries that lookups may see
};
