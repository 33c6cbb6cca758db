// Set-up the way a panel does it: the settings record, the lent memories and
// the callbacks, then a host variable list for the cyclic reads and
// AddListOnceReadVar for once-reads.
#include "driver/Driver.h"

#include "driver/Callbacks.h"
#include "driver/DriverApi.h"
#include "model/Areas.h"

#include <QList>
#include <QString>

namespace marovin_host {

void fillSettings(const DriverSettings &o, int *settings)
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

void Driver::setUp(const DriverSettings &settings)
{
    fillSettings(settings, settings_);
    remote_ = settings.remote;
    linkNo_ = settings.linkNo;
    api_->setComInfo(settings_);
    api_->flashLocalRegister(bits_, words_, spare_);
    registerCallbacks(*api_);
}

int Driver::parseAddress(int area, const std::string &text) const
{
    return api_->plcAddressChangeIntef(area, QString::fromStdString(text));
}

int Driver::registerReadList(const std::vector<TagRow> &rows)
{
    QList<HOSTVAR> list;
    rowAddresses_.clear();
    for (const TagRow &row : rows) {
        HOSTVAR v;
        v.kind = 0;
        v.areaCode = static_cast<unsigned char>(row.ref.area);
        v.station = static_cast<unsigned char>(row.ref.station);
        v.hostWord = 0;
        v.addressText = QString::fromStdString(addressText(row.ref.area, row.ref.address));
        v.text = QString("%1:%2:%3").arg(row.ref.station).arg(areaName(row.ref.area)).arg(v.addressText);
        v.length = wordsPerValue(row.ref.area);
        list.append(v);
        rowAddresses_.push_back(v.addressText);
    }
    return api_->reCreatReadVarList(&list);
}

void Driver::registerOnceReads(std::vector<OnceRead> *items)
{
    for (OnceRead &item : *items) {
        RW_VAR var;
        var.ownerType = kOwnerOnceRead;
        var.ownerId = item.ownerId;
        var.accessMode = 0;
        var.remoteFlag = remote_ ? 1 : 0;
        var.linkNo = linkNo_;
        var.hostText = QString::fromStdString(item.entry.source);
        var.addressText = QString::fromStdString(addressText(item.first.area, item.first.address));
        var.areaCode = item.first.area;
        var.address = item.first.address;
        var.station = item.first.station;
        var.count = item.entry.count * wordsPerValue(item.first.area);
        if (api_->addListOnceReadVar(&var, 0) == 0)
            item.state = OnceRead::Rejected;
    }
}

}  // namespace marovin_host
