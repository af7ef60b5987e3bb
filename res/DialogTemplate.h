#pragma once
// The main dialog's resources as plain data: dialog template 102 and menu 133.
// Positions and sizes are in dialog units; the window layer turns them into
// pixels from the template font's metrics.
#include <cstdint>
#include <span>

enum class ControlKind { GroupBox, ComboBox, PushButton, CheckBox, Edit, Static };

// Style flags of a control or of the dialog window.
namespace ControlStyle {
constexpr uint32_t TabStop = 1u << 0;
constexpr uint32_t DefaultButton = 1u << 1;    // push button pressed by Enter
constexpr uint32_t AutoCheck = 1u << 2;        // check box toggles itself on a click
constexpr uint32_t LowerCase = 1u << 3;        // text typed or inserted becomes lower case
constexpr uint32_t AutoHScroll = 1u << 4;      // field scrolls sideways (else: no wider text)
constexpr uint32_t AutoVScroll = 1u << 5;
constexpr uint32_t VScroll = 1u << 6;          // vertical scroll bar
constexpr uint32_t Border = 1u << 7;
constexpr uint32_t MultiLine = 1u << 8;
constexpr uint32_t ReadOnly = 1u << 9;
constexpr uint32_t AlignLeft = 1u << 10;
constexpr uint32_t AlignRight = 1u << 11;
constexpr uint32_t CentreVertically = 1u << 12;
constexpr uint32_t Sort = 1u << 13;            // list kept sorted
constexpr uint32_t ClipSiblings = 1u << 14;
constexpr uint32_t DropDown = 1u << 15;        // combo box: editable field plus list
} // namespace ControlStyle

namespace DialogStyle {
constexpr uint32_t Popup = 1u << 0;
constexpr uint32_t Caption = 1u << 1;
constexpr uint32_t SysMenu = 1u << 2;
constexpr uint32_t MinimizeBox = 1u << 3;
constexpr uint32_t MaximizeBox = 1u << 4;
constexpr uint32_t FixedFrame = 1u << 5;   // dialog frame, no sizing border
constexpr uint32_t Visible = 1u << 6;
constexpr uint32_t AppWindow = 1u << 7;    // own task-bar button
} // namespace DialogStyle

struct ControlTemplate {
    int id;
    ControlKind kind;
    uint32_t style;
    const char* caption;
    int x, y, cx, cy; // dialog units; a combo box's height includes its dropped list
};

struct DialogTemplate {
    int id;
    const char* caption;
    int cx, cy;           // client size in dialog units
    const char* fontFace; // the font the dialog units are measured with
    int fontPoints;
    uint32_t style;
    int menuId;
    std::span<const ControlTemplate> controls; // in tab order
};

// One entry of a pop-up menu; a separator has id 0 and no text.
struct MenuItemTemplate {
    int id;
    const char* text;
    bool separator;
};

struct MenuPopupTemplate {
    const char* text;
    std::span<const MenuItemTemplate> items;
};

struct MenuTemplate {
    int id;
    std::span<const MenuPopupTemplate> popups; // the entries of the menu bar
};

// nullptr when the program has no such resource.
const DialogTemplate* FindDialogTemplate(int id);
const MenuTemplate* FindMenuTemplate(int id);
