#pragma once

class QTreeWidget;

// Report view and columns of the four lists, with widths in twips as the design gives them.
namespace ListColumns {

void create(QTreeWidget *ListView1, QTreeWidget *ListView2, QTreeWidget *ListView3,
            QTreeWidget *ListView4);

// Full-row selection: a selected row is highlighted across all its columns. Without it, only
// the first column shows the highlight.
void setFullRowSelect(QTreeWidget *list, bool on);

} // namespace ListColumns
