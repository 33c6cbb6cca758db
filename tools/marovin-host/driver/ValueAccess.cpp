// The host's data access: values out of the driver's cache, decoded once,
// and writes into it.
#include "driver/Driver.h"

#include "driver/Callbacks.h"
#include "driver/DriverApi.h"
#include "model/Areas.h"

#include <QString>

namespace marovin_host {

bool Driver::write(const ValueRef &ref, const char *bytes, int size, int count, int ownerId)
{
    QByteArray data(bytes, size);
    return api_->setRegisterData(QString("marovin-host"), ref.area,
                                 QString::fromStdString(addressText(ref.area, ref.address)), ref.station, &data, count,
                                 kOwnerWrite, ownerId) != 0;
}

bool Driver::fetchAt(const ValueRef &ref, const QString &address, const TagInfo &tag, TagValue *out)
{
    setCallSite(CallSite::Other);
    if (!api_->getRegisterData(QString(), ref.area, address, ref.station, &fetched_, wordsPerValue(ref.area)))
        return false;
    *out = decodeValue(ref.area, tag, rawFromBytes(fetched_.constData(), fetched_.size(), ref.area));
    return true;
}

bool Driver::fetch(const ValueRef &ref, const TagInfo &tag, TagValue *out)
{
    return fetchAt(ref, QString::fromStdString(addressText(ref.area, ref.address)), tag, out);
}

bool Driver::fetchRow(std::size_t index, TagRow *row)
{
    if (index >= rowAddresses_.size())
        return fetch(row->ref, row->tag, &row->value);
    return fetchAt(row->ref, rowAddresses_[index], row->tag, &row->value);
}

void Driver::fetchAll(std::vector<TagRow> *rows)
{
    for (std::size_t i = 0; i < rows->size(); ++i)
        fetchRow(i, &(*rows)[i]);
}

}  // namespace marovin_host
