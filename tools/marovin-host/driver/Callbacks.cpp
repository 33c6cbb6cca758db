// Callbacks only record what they are told: they run with the driver's list
// lock held, so the exchange loop acts on the events after the call returns.
#include "driver/Callbacks.h"

#include "driver/DriverApi.h"

namespace marovin_host {

namespace {

// Records a once-read's end.
int onceReadDone(int context, int ownerType, int ownerId, int outcome)
{
    CallbackEvent event;
    event.kind = CallbackEvent::OnceReadDone;
    event.site = g_callSite;
    event.context = context;
    event.ownerType = ownerType;
    event.ownerId = ownerId;
    event.outcome = outcome;
    g_callbackEvents.push_back(event);
    return 0;
}

// Records a give-up notice or a handled write; the list is the driver's and is left alone.
int ownerNotify(QList<RW_VAR> *, int ownerType, int one)
{
    CallbackEvent event;
    event.kind = CallbackEvent::OwnerNotify;
    event.site = g_callSite;
    event.ownerType = ownerType;
    event.outcome = one;
    g_callbackEvents.push_back(event);
    return 0;
}

}  // namespace

void registerCallbacks(const DriverApi &api)
{
    api.registCallBackFuncIntf(&onceReadDone, &ownerNotify);
}

std::vector<CallbackEvent> takeCallbackEvents()
{
    std::vector<CallbackEvent> events;
    events.swap(g_callbackEvents);
    return events;
}

}  // namespace marovin_host
