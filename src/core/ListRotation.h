// Moving a list's first element to its end without copying it.
#ifndef MAROVIN_LIST_ROTATION_H
#define MAROVIN_LIST_ROTATION_H

#include <QList>

// rotateFirstToEnd reaches into Qt 5's QListData and was checked against Qt 5
// only; Qt 6's QList has no array of element pointers at all. Another Qt
// stops the build here until its builder chooses: check the internals
// against that Qt, or build with MAROVIN_PORTABLE_ROTATION, which rotates
// with list.move(0, list.size() - 1) (the same result, a few calls dearer).
#if (QT_VERSION < QT_VERSION_CHECK(5, 0, 0) || QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)) && \
    !defined(MAROVIN_PORTABLE_ROTATION)
#error "ListRotation.h needs Qt 5's QList internals: on Qt 4 or Qt 6 define MAROVIN_PORTABLE_ROTATION (list.move(0, list.size() - 1))"
#endif

namespace marovin {

// Moves the first element of `list` to its end. A list of records keeps each
// element in its own heap block and only pointers in its array, so the
// pointer is moved instead of the record: no copy and no heap call, and the
// array's spare room at the front is reused the way append() reuses it.
template <class T>
void rotateFirstToEnd(QList<T> &list)
{
#ifdef MAROVIN_PORTABLE_ROTATION
    if (list.size() > 1)
        list.move(0, list.size() - 1);
#else
    static_assert(QTypeInfo<T>::isLarge || QTypeInfo<T>::isStatic, "elements must be held by pointer");
    static_assert(sizeof(QList<T>) == sizeof(QListData), "QList is its QListData");
    if (list.size() < 2)
        return;
    list.detach();
    QListData &data = reinterpret_cast<QListData &>(list);
    QListData::Data *const d = data.d;
    void *const first = d->array[d->begin];
    if (d->end < d->alloc) {
        // What remove(0) and append() do when there is room at the back.
        ++d->begin;
        d->array[d->end++] = first;
        return;
    }
    data.remove(0);
    *data.append() = first;
#endif
}

}  // namespace marovin

#endif
