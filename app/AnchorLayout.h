#pragma once
// Anchored placement of a window's child widgets: each widget has its place at the window's design
// size and the edges it keeps its distance to. When the window's size differs from the design
// size, a widget anchored to both opposite edges stretches, one anchored to the right or bottom
// edge only moves, and one anchored to the left or top only stays. A window smaller than designed
// can give a stretched widget a negative size, which Qt shows as empty; nothing else can fail.

#include <QRect>
#include <QSize>
#include <vector>

class QWidget;

class TAnchorLayout {
public:
    // The window's client size the design places are given for.
    explicit TAnchorLayout(QSize DesignSize) : FDesignSize(DesignSize) {}

    // Adds Widget at its design place, and puts it there at once.
    void Add(QWidget* Widget, QRect Design, Qt::Edges Anchors);
    // Places every widget for a window of client size Size.
    void Apply(QSize Size) const;
    // Where a widget of design place Design and anchors Anchors goes at client size Size.
    QRect Place(QRect Design, Qt::Edges Anchors, QSize Size) const;

private:
    struct TAnchored {
        QWidget* Widget;
        QRect Design;
        Qt::Edges Anchors;
    };
    QSize FDesignSize;
    std::vector<TAnchored> FAnchored;
};
