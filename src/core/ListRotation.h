// Moving a list's first element to its end without copying it.
#ifndef MAROVIN_LIST_ROTATION_H
#define MAROVIN_LIST_ROTATION_H

#include <QList>

namespace marovin {

// Moves the first element of `list` to its end. A list of records keeps each
// element in its own heap block and only pointers in its array, so the
// pointer is moved instead of the record: no copy and no heap call, and the
// array's spare room at the front is reused the way append() reuses it.
template <class T>
void rotateFirstToEnd(QList<T> &list)
{
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
}

}  // namespace marovin

#endif
