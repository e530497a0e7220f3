#include "app/RadioGroup.h"

#include <QGridLayout>
#include <QRadioButton>
#include <algorithm>

TRadioGroup::TRadioGroup(const QString& Caption, const QStringList& Items, int Columns, QWidget* Parent)
    : QGroupBox(Caption, Parent), FItems(Items), FColumns(std::max(Columns, 1)) {
    auto* layout = new QGridLayout(this);
    const int rows = std::max((int(Items.size()) + FColumns - 1) / FColumns, 1);
    for (int i = 0; i < Items.size(); ++i) {
        auto* button = new QRadioButton(Items[i], this);
        FButtons.addButton(button, i);
        layout->addWidget(button, i % rows, i / rows);
    }
    // Equal columns whatever the captions' lengths, as the group's width is shared out.
    for (int column = 0; column < FColumns; ++column)
        layout->setColumnStretch(column, 1);
}

void TRadioGroup::SetItemIndex(int Index) {
    if (Index < 0) {
        Clear();
        return;
    }
    if (QAbstractButton* button = FButtons.button(std::min(Index, int(FItems.size()) - 1)))
        button->setChecked(true);
}

QRadioButton* TRadioGroup::Button(int Index) const {
    return static_cast<QRadioButton*>(FButtons.button(Index));
}

void TRadioGroup::Clear() {
    QAbstractButton* checked = FButtons.checkedButton();
    if (!checked)
        return;
    // An exclusive group never lets its last checked button go.
    FButtons.setExclusive(false);
    checked->setChecked(false);
    FButtons.setExclusive(true);
}
