#include "RadioGroup.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QRadioButton>

#include <algorithm>

namespace r310::ui {

RadioGroup::RadioGroup(const QString &caption, const QStringList &items, int columns, QWidget *parent)
    : QGroupBox(caption, parent), buttons_(new QButtonGroup(this))
{
    auto *layout = new QGridLayout(this);
    layout->setVerticalSpacing(2);
    columns = std::max(columns, 1);
    for (int i = 0; i < items.size(); ++i) {
        auto *button = new QRadioButton(items.at(i), this);
        buttons_->addButton(button, i);
        layout->addWidget(button, i / columns, i % columns);
    }
    connect(buttons_, &QButtonGroup::idClicked, this, &RadioGroup::itemClicked);
}

int RadioGroup::itemIndex() const
{
    return buttons_->checkedId();
}

void RadioGroup::setItemIndex(int index)
{
    if (QAbstractButton *button = buttons_->button(index)) {
        button->setChecked(true);
        return;
    }
    // An exclusive group keeps one button checked; unchecking them all needs
    // the exclusivity lifted for a moment.
    buttons_->setExclusive(false);
    for (QAbstractButton *button : buttons_->buttons())
        button->setChecked(false);
    buttons_->setExclusive(true);
}

int RadioGroup::count() const
{
    return static_cast<int>(buttons_->buttons().size());
}

QRadioButton *RadioGroup::item(int index) const
{
    return qobject_cast<QRadioButton *>(buttons_->button(index));
}

} // namespace r310::ui
