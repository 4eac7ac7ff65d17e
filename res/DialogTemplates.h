// The settings window's template in its two languages, as data the window builder reads.
#pragma once

#include <span>

enum class DlgKind { Label, ComboBox, IPAddress, GroupBox, PushButton };

// Style bits a template item can carry.
enum DlgStyle : unsigned {
    kVisible = 1u << 0,
    kTabStop = 1u << 1,
    kGroup = 1u << 2,
    kRightAlign = 1u << 3,
    kDropDownList = 1u << 4,
    kVScroll = 1u << 5,
};

struct DlgItem {
    int id;
    DlgKind kind;
    unsigned style;
    const char* text; // UTF-8; "&" marks an access key
    int x, y, cx, cy; // dialog units
};

struct DlgTemplate {
    int id;
    const char* caption;
    const char* fontFace;
    int pointSize;
    int cx, cy; // client size in dialog units
    std::span<const DlgItem> items;
};

enum class DlgLanguage { Neutral, ChinesePrc };

const DlgTemplate& settingsTemplate(DlgLanguage language);
