// The two host callbacks the driver calls from inside ComCommunication and DataCom.
#ifndef MAROVIN_HOST_DRIVER_CALLBACKS_H
#define MAROVIN_HOST_DRIVER_CALLBACKS_H

#include <vector>

namespace marovin_host {

// Which entry point the exchange thread is inside when a callback comes.
enum class CallSite { Other, ComCommunication, DataCom };

struct CallbackEvent {
    enum Kind { OnceReadDone, OwnerNotify } kind = OnceReadDone;
    CallSite site = CallSite::Other;
    int context = 0;
    int ownerType = 0;
    int ownerId = 0;
    int outcome = 0;  // once-read: 1 done, 2 given up
};

// What the callbacks recorded and not yet taken, and where they were called
// from; inline so that the exchange loop reaches them without a call.
inline std::vector<CallbackEvent> g_callbackEvents;
inline CallSite g_callSite = CallSite::Other;

struct DriverApi;
// Registers the callbacks with the driver.
void registerCallbacks(const DriverApi &api);
// Tells the callbacks which entry point is running (they only record; they
// call nothing). Set before every driver call of the loop rather than reset
// after each, so that an exchange stores it twice, not four times.
inline void setCallSite(CallSite site)
{
    g_callSite = site;
}
// Whether an event waits to be taken.
inline bool callbackEventsPending()
{
    return !g_callbackEvents.empty();
}
// Events recorded since the last call, oldest first.
std::vector<CallbackEvent> takeCallbackEvents();

}  // namespace marovin_host

#endif
