#pragma once
// Small integers carried by windows and controls: a list's rule selector, a menu item's port
// number or line selector, the kind of an exchange window.
#include <QObject>
#include <QVariant>

inline int Tag(const QObject *object)
{
    return object->property("Tag").toInt();
}

inline void SetTag(QObject *object, int tag)
{
    object->setProperty("Tag", tag);
}
