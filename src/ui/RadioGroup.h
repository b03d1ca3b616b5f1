#pragma once
// A radio group: a captioned box of radio buttons, at most one selected, and
// "no selection" possible (after the display was cleared, at start).
#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QRadioButton;

namespace r310::ui {

class RadioGroup : public QGroupBox {
    Q_OBJECT
public:
    // Items top to bottom, filling `columns` columns row by row.
    RadioGroup(const QString &caption, const QStringList &items, int columns = 1, QWidget *parent = nullptr);

    // The selected item, or -1 when none is.
    int itemIndex() const;
    // Selects item index; -1 (or an index out of range) selects none. Emits
    // nothing: only the user's clicks count as changes.
    void setItemIndex(int index);
    int count() const;
    QRadioButton *item(int index) const;

signals:
    // The user clicked an item.
    void itemClicked(int index);

private:
    QButtonGroup *buttons_;
};

} // namespace r310::ui
