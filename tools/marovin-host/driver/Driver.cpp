// Loading and the exchange calls: ComCommunication and DataCom alternate on
// the loop's thread, each told to the callbacks as the entry point running.
#include "driver/Driver.h"

#include "driver/Callbacks.h"
#include "driver/DriverApi.h"
#include "model/Status.h"

#include <algorithm>

namespace marovin_host {

namespace {

// Whether the finish flag rose; the host lowers it again so that the next
// cycle can raise it.
inline bool lowerFinishFlag(int *settings)
{
    if (settings[MarovinSettings::finishFlag] != 1)
        return false;
    settings[MarovinSettings::finishFlag] = 0;
    return true;
}

}  // namespace

Driver::Driver() : api_(new DriverApi) {}

Driver::~Driver() = default;

std::unique_ptr<Driver> Driver::load(const std::string &explicitPath, std::string *error)
{
    std::unique_ptr<Driver> driver(new Driver);
    if (!loadDriver(explicitPath, driver->api_.get(), error))
        return nullptr;
    return driver;
}

const std::string &Driver::path() const
{
    return api_->path;
}

bool Driver::nextRequest(DriverRequest *out)
{
    setCallSite(CallSite::ComCommunication);
    const Protocol *request = api_->comCommunication();
    if (!request)
        return false;
    const RW_VAR &var = request->var;
    out->ownerType = var.ownerType;
    out->ownerId = var.ownerId;
    out->accessMode = var.accessMode;
    out->station = var.station;
    out->area = var.areaCode;
    out->address = var.address;
    out->replyLength = request->replyLength;
    // The request stays valid until DataCom: its frame needs no copy.
    out->frame = reinterpret_cast<const std::uint8_t *>(request->frame.constData());
    out->length = std::max(0, std::min(request->requestLength, static_cast<int>(request->frame.size())));
    return true;
}

DriverReply Driver::handReply(QByteArray &reply)
{
    setCallSite(CallSite::DataCom);
    const RW_VAR *result = api_->dataCom(&reply, reply.size());
    DriverReply out;
    out.status = result ? result->status : 200;
    out.finished = isError(out.status) || (isSuccess(out.status) && settings_[MarovinSettings::framesDone] >=
                                                                         settings_[MarovinSettings::framesPerVar]);
    out.cycleDone = lowerFinishFlag(settings_);
    return out;
}

bool Driver::takeCycleEnd()
{
    return lowerFinishFlag(settings_);
}

}  // namespace marovin_host
