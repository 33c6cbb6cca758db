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

bool Driver::fetch(const ValueRef &ref, const TagInfo &tag, TagValue *out)
{
    setCallSite(CallSite::Other);
    QByteArray bytes;
    if (!api_->getRegisterData(QString(), ref.area, QString::fromStdString(addressText(ref.area, ref.address)),
                               ref.station, &bytes, wordsPerValue(ref.area)))
        return false;
    *out = decodeValue(ref.area, tag, rawFromBytes(bytes.constData(), bytes.size(), ref.area));
    return true;
}

void Driver::fetchAll(std::vector<TagRow> *rows)
{
    for (TagRow &row : *rows)
        fetch(row.ref, row.tag, &row.value);
}

}  // namespace marovin_host
