#pragma once
// A framed group of radio buttons, one of which is selected, laid out in columns that fill top to
// bottom before moving right.

#include <QButtonGroup>
#include <QGroupBox>
#include <QStringList>

class QRadioButton;

class TRadioGroup : public QGroupBox {
public:
    TRadioGroup(const QString& Caption, const QStringList& Items, int Columns, QWidget* Parent = nullptr);

    // The selected item, or -1 when none is.
    int ItemIndex() const { return FButtons.checkedId(); }
    // Selects item Index; an index below 0 clears the selection, one past the end selects the last.
    void SetItemIndex(int Index);

    QStringList Items() const { return FItems; }
    int Columns() const { return FColumns; }
    QRadioButton* Button(int Index) const;

private:
    void Clear();

    QStringList FItems;
    int FColumns;
    QButtonGroup FButtons;
};
