#include "ui/MainDialogLayout.h"

#include "ui/ControlIds.h"

namespace {
using L = CDialogLayout;

constexpr LayoutConstraint OffsetFrom(int32_t id, int32_t edge) { return {L::Offset, id, edge}; }
constexpr LayoutConstraint ShareOf(int32_t id, int32_t edge) { return {L::Proportional, id, edge}; }
constexpr LayoutConstraint KeepWidth() { return {L::KeepWidth, 0, 0}; }
constexpr LayoutConstraint KeepHeight() { return {L::KeepHeight, 0, 0}; }
constexpr int32_t Window = 0; // the owner's client area
} // namespace

// The server box, "&Go" and the two check boxes beside it are not listed:
// they keep their places from the template, as "Secure (&NTS)" does under
// them by following the group box, which never moves.
extern const LayoutRule kMainDialogLayout[MainDialogLayoutRows] = {
    {IDC_TIME_SERVER_GROUP, OffsetFrom(Window, L::Left), OffsetFrom(Window, L::Top),
     OffsetFrom(Window, L::Right), KeepHeight()},
    // "Secure (&NTS)" rides with the group box's top left corner.
    {IDC_NTS, OffsetFrom(IDC_TIME_SERVER_GROUP, L::Left), OffsetFrom(IDC_TIME_SERVER_GROUP, L::Top), KeepWidth(),
     KeepHeight()},
    {IDC_LOG, OffsetFrom(Window, L::Left), OffsetFrom(Window, L::Top), OffsetFrom(Window, L::Right),
     OffsetFrom(Window, L::Bottom)},
    {IDC_STATUS, OffsetFrom(IDC_LOG, L::Left), OffsetFrom(IDC_LOG, L::Bottom),
     OffsetFrom(IDC_LOG, L::Right), KeepHeight()},
    {IDCANCEL, OffsetFrom(IDC_LOG, L::Left), OffsetFrom(IDC_LOG, L::Bottom), KeepWidth(), KeepHeight()},
    {IDC_CLEAR_LOG, OffsetFrom(Window, L::Right), OffsetFrom(IDC_LOG, L::Bottom), KeepWidth(),
     KeepHeight()},
    {IDC_VERSION, OffsetFrom(IDC_CLEAR_LOG, L::Left), OffsetFrom(IDC_CLEAR_LOG, L::Top), KeepWidth(),
     KeepHeight()},
    {IDC_AUTH, OffsetFrom(IDC_CLEAR_LOG, L::Left), OffsetFrom(IDC_CLEAR_LOG, L::Top), KeepWidth(),
     KeepHeight()},
    {IDC_SNTP, OffsetFrom(IDC_CLEAR_LOG, L::Left), OffsetFrom(IDC_CLEAR_LOG, L::Top), KeepWidth(),
     KeepHeight()},
    {IDC_LOGO, OffsetFrom(IDC_CLEAR_LOG, L::Left), OffsetFrom(IDC_CLEAR_LOG, L::Top), KeepWidth(),
     KeepHeight()},
    {IDC_CHART, OffsetFrom(IDC_LOG, L::Left), ShareOf(IDC_LOG, L::Top), OffsetFrom(IDC_LOG, L::Right),
     OffsetFrom(IDC_LOG, L::Bottom)},
};
