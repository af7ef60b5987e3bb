#include "ui/DialogLayout.h"

namespace {
// The coordinate an edge code names.
int32_t Coordinate(const Rect& r, int32_t edge)
{
    switch (edge) {
    case CDialogLayout::Left: return r.left;
    case CDialogLayout::Top: return r.top;
    case CDialogLayout::Right: return r.right;
    case CDialogLayout::Bottom: return r.bottom;
    case CDialogLayout::CentreX: return static_cast<int32_t>((int64_t{r.left} + r.right) / 2);
    case CDialogLayout::CentreY: return static_cast<int32_t>((int64_t{r.top} + r.bottom) / 2);
    default: return 0;
    }
}

// The extent along the axis of an edge code: width or height.
int32_t Extent(const Rect& r, int32_t edge)
{
    switch (edge) {
    case CDialogLayout::Left:
    case CDialogLayout::Right:
    case CDialogLayout::CentreX: return r.Width();
    case CDialogLayout::Top:
    case CDialogLayout::Bottom:
    case CDialogLayout::CentreY: return r.Height();
    default: return 0;
    }
}
} // namespace

bool CDialogLayout::Init(IWindow* owner, const Rect* rect, const LayoutRule* table, int32_t count)
{
    m_items.clear();
    m_computed.clear();
    m_visible = 0;
    m_owner = owner;
    m_count = owner && table && count > 0 ? count : 0;
    m_initialClient = rect ? *rect : owner ? owner->GetClientRect() : Rect{};

    m_items.resize(static_cast<size_t>(m_count));
    for (int32_t i = 0; i < m_count; ++i) {
        const int32_t id = table[i].id;
        m_items[i].rule = &table[i];
        if (id == 0)
            m_items[i].initial = owner->GetClientRect();
        else if (owner->ControlExists(id))
            m_items[i].initial = owner->GetControlRect(id);
    }
    return true;
}

void CDialogLayout::Relayout()
{
    if (m_count <= 0)
        return; // not set up yet: the dialog is still being created
    if (m_computed.empty())
        m_computed.resize(static_cast<size_t>(m_count));

    const Rect client = m_owner->GetClientRect();
    for (int32_t i = 0; i < m_count; ++i)
        ComputeRow(i, client);
    for (int32_t i = 0; i < m_count; ++i)
        ApplyRow(i);
}

void CDialogLayout::ComputeRow(int32_t i, const Rect& client)
{
    // A row may refer to the rows before it and to itself.
    m_visible = i + 1;
    const Item& item = m_items[i];
    const LayoutRule& rule = *item.rule;
    Computed& entry = m_computed[i];
    entry.id = rule.id;
    // Each edge is stored at once: keep width and keep height read the new
    // left and top.
    entry.rect.left = ComputeEdge(Left, rule.left, item, entry.rect, client);
    entry.rect.top = ComputeEdge(Top, rule.top, item, entry.rect, client);
    entry.rect.right = ComputeEdge(Right, rule.right, item, entry.rect, client);
    entry.rect.bottom = ComputeEdge(Bottom, rule.bottom, item, entry.rect, client);

    entry.exists = m_owner->ControlExists(rule.id);
    entry.participates = entry.exists && m_owner->IsControlVisible(rule.id) &&
                         !m_owner->HasClipSiblings(rule.id);
    entry.overlapping = false;
}

void CDialogLayout::ApplyRow(int32_t i)
{
    Computed& entry = m_computed[i];
    for (int32_t j = 0; j < i && !entry.overlapping; ++j) {
        const Computed& earlier = m_computed[j];
        if (earlier.participates && entry.participates &&
            !Intersect(earlier.rect, entry.rect).IsEmpty())
            entry.overlapping = true;
    }
    // A control with no room is shrunk to nothing; rows after it no longer
    // collide with it.
    if (entry.overlapping)
        entry.rect = Rect{};
    if (entry.exists)
        m_owner->MoveControl(entry.id, entry.rect);
}

int32_t CDialogLayout::ComputeEdge(int32_t edge, const LayoutConstraint& c, const Item& item,
                                   const Rect& self, const Rect& client) const
{
    const int32_t own = Coordinate(item.initial, edge);
    switch (c.type) {
    case Offset: {
        const Rect initial = InitialRect(c.referenceId);
        const Rect current = CurrentRect(c.referenceId, client);
        return Coordinate(current, c.referenceEdge) + (own - Coordinate(initial, c.referenceEdge));
    }
    case Proportional: {
        const Rect initial = InitialRect(c.referenceId);
        const Rect current = CurrentRect(c.referenceId, client);
        int64_t d0 = Extent(initial, edge);
        const int64_t d1 = Extent(current, edge);
        if (d0 <= 0)
            d0 = 1;
        // Multiply first, then divide truncating toward zero; 64 bits keep
        // the product exact.
        const int64_t scaled = (int64_t{own} - Coordinate(initial, c.referenceEdge)) * d1 / d0;
        return static_cast<int32_t>(Coordinate(current, c.referenceEdge) + scaled);
    }
    case KeepWidth: return self.left + item.initial.Width();
    case KeepHeight: return self.top + item.initial.Height();
    default: return 0;
    }
}

Rect CDialogLayout::InitialRect(int32_t id) const
{
    if (id == 0)
        return m_initialClient;
    for (const Item& item : m_items)
        if (item.rule->id == id)
            return item.initial;
    return Rect{};
}

Rect CDialogLayout::CurrentRect(int32_t id, const Rect& client) const
{
    if (id == 0)
        return client;
    for (int32_t i = 0; i < m_visible; ++i)
        if (m_computed[i].id == id)
            return m_computed[i].rect;
    return Rect{};
}
