#pragma once
// A framed group of radio buttons with one chosen item (ItemIndex) and a free integer Tag.
#include <QGroupBox>
#include <QList>

class QButtonGroup;
class QRadioButton;

class RadioGroup : public QGroupBox
{
    Q_OBJECT
public:
    RadioGroup(const QString &caption, const QStringList &items, QWidget *parent = nullptr);

    int ItemIndex() const;
    void setItemIndex(int index);
    QRadioButton *item(int index) const { return items_.value(index); }
    int count() const { return int(items_.size()); }

    int Tag = 0;

private:
    QButtonGroup *group_;
    QList<QRadioButton *> items_;
};
