// Registration the way a panel does it: a host variable list for the cyclic
// reads, AddListOnceReadVar for once-reads and SetRegisterData for writes.
#include "DriverSetup.h"

#include "Areas.h"
#include "Callbacks.h"

#include <QList>
#include <QString>

namespace marovin_host {

void fillSettings(const HostOptions &o, int *settings)
{
    for (int i = 0; i < kSettingsWords; ++i)
        settings[i] = 0;
    settings[MarovinSettings::maxUnits] = o.maxUnits;
    settings[MarovinSettings::defaultStation] = o.station;
    settings[MarovinSettings::retryLimit] = o.retries;
    settings[MarovinSettings::multiStation] = o.multiStation ? 1 : 0;
    settings[MarovinSettings::remoteMode] = o.remote ? 1 : 0;
    settings[MarovinSettings::localLinkNo] = o.linkNo;
    settings[MarovinSettings::writeMode] = o.writeMode;
    settings[MarovinSettings::notifyContext] = kNotifyContext;
}

void setUpDriver(const DriverApi &api, int *settings, HostMemories *memories)
{
    api.setComInfo(settings);
    api.flashLocalRegister(memories->bits, memories->words, memories->spare);
    registerCallbacks(api);
}

int registerReadList(const DriverApi &api, const std::vector<ValueRow> &rows)
{
    QList<HOSTVAR> list;
    for (const ValueRow &row : rows) {
        HOSTVAR v;
        v.kind = 0;
        v.areaCode = static_cast<unsigned char>(row.ref.area);
        v.station = static_cast<unsigned char>(row.ref.station);
        v.hostWord = 0;
        v.addressText = addressText(row.ref.area, row.ref.address);
        v.text = QString("%1:%2:%3").arg(row.ref.station).arg(areaName(row.ref.area)).arg(v.addressText);
        v.length = wordsPerValue(row.ref.area);
        list.append(v);
    }
    return api.reCreatReadVarList(&list);
}

void registerOnceReads(const DriverApi &api, const HostOptions &options, std::vector<OnceReadItem> *items)
{
    for (OnceReadItem &item : *items) {
        RW_VAR var;
        var.ownerType = kOwnerOnceRead;
        var.ownerId = item.ownerId;
        var.accessMode = 0;
        var.remoteFlag = options.remote ? 1 : 0;
        var.linkNo = options.linkNo;
        var.hostText = QString::fromStdString(item.arg.source);
        var.addressText = addressText(item.first.area, item.first.address);
        var.areaCode = item.first.area;
        var.address = item.first.address;
        var.station = item.first.station;
        var.count = item.arg.count * wordsPerValue(item.first.area);
        if (api.addListOnceReadVar(&var, 0) == 0)
            item.state = OnceReadItem::Rejected;
    }
}

}  // namespace marovin_host
