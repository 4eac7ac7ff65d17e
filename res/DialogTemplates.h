// The settings window's template in its two languages, as data the window builder reads.
#pragma once

#include <span>

enum class DlgKind { Label, ComboBox, IPAddress, GroupBox, PushButton };

// Style bits a template item can carry.
enum DlgStyle : unsigned {
    kVisible = 1u << 0,
    kTabStop = 1u << 1,
    kRightAlign = 1u << 2,
};

struct DlgItem {
    int id;
    DlgKind kind;
    unsigned style;
    const char* text; // UTF-8; "&" marks an access key
    int x, y, cx, cy; // dialog units
};

// What a screen reader says for a control: its visible text without colon or access key, and what it does.
struct DlgAccessible {
    int id;
    const char* name;        // UTF-8
    const char* description; // UTF-8; "" when the name says it all
};

struct DlgTemplate {
    int id; // resource number
    const char* caption;
    const char* fontFace;
    int pointSize;
    int cx, cy; // client size in dialog units
    std::span<const DlgItem> items;
    std::span<const DlgAccessible> accessible;
};

enum class DlgLanguage { Neutral, ChinesePrc };

// The template with resource number id in language; std::out_of_range for a number no template has.
const DlgTemplate& dialogTemplate(int id, DlgLanguage language);
