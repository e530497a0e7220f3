#include "app/AnchorLayout.h"

#include <QWidget>

void TAnchorLayout::Add(QWidget* Widget, QRect Design, Qt::Edges Anchors) {
    FAnchored.push_back({Widget, Design, Anchors});
    Widget->setGeometry(Design);
}

void TAnchorLayout::Apply(QSize Size) const {
    for (const TAnchored& anchored : FAnchored)
        anchored.Widget->setGeometry(Place(anchored.Design, anchored.Anchors, Size));
}

QRect TAnchorLayout::Place(QRect Design, Qt::Edges Anchors, QSize Size) const {
    const int dx = Size.width() - FDesignSize.width();
    const int dy = Size.height() - FDesignSize.height();
    QRect place = Design;
    if (Anchors & Qt::RightEdge) {
        if (Anchors & Qt::LeftEdge)
            place.setWidth(place.width() + dx);
        else
            place.translate(dx, 0);
    }
    if (Anchors & Qt::BottomEdge) {
        if (Anchors & Qt::TopEdge)
            place.setHeight(place.height() + dy);
        else
            place.translate(0, dy);
    }
    return place;
}
