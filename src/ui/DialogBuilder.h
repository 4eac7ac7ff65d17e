// Creates a dialog's widgets from a template, converting dialog units to pixels from the dialog font.
#pragma once

#include "DialogTemplates.h"

#include <QFont>
#include <QHash>
#include <QRect>

class QDialog;
class QWidget;

class CDialogBuilder {
public:
    explicit CDialogBuilder(const QFont& font);

    QRect MapDialogRect(int x, int y, int cx, int cy) const;

    // Fixed client size, widgets in template order (which is their Tab order), centred on the screen.
    void build(QDialog& dialog, const DlgTemplate& tmpl, bool accessKeys);
    QWidget* item(int id) const { return m_items.value(id, nullptr); }
    // The whole window, its frame included, in the middle of its screen's work area.
    static void centreInWorkArea(QWidget& window);

private:
    QFont m_font;
    int m_hbase; // average width of A-Z a-z
    int m_vbase; // font height
    QHash<int, QWidget*> m_items;
};
