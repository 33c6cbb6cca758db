// Host interface of libMarovin.so.1, the PLC communication driver.
//
// A host reads these records by offset: field order and types are fixed.
// Members added by later versions only ever go after the last one below.
//
// The integrator's guide is docs/api.md; each entry point also has a page in
// section 3 of the manual (man 3 marovin). In short: load the library, call
// SetComInfo and RegistCallBackFuncIntf, register variables, then run
// ComCommunication / DataCom in turn on one thread (the exchange thread) while
// screen threads read and write values with GetRegisterData / SetRegisterData.
// Host and driver must use one build of QtCore: records cross the boundary.
#ifndef MAROVIN_H
#define MAROVIN_H

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>

#define MAROVIN_API __attribute__((visibility("default")))

// Variable descriptor: what the host registers and the driver copies into its
// lists (a deep copy: the host may drop its record right after the call).
struct RW_VAR {
    int ownerType = 0;
    int ownerId = 0;
    int accessMode = 0;      // 1: a write, acknowledged by the single byte "O"
    int remoteFlag = 0;
    int linkNo = 0;
    int status = 0;
    QString hostText;
    QString addressText;
    int areaCode = 0;        // 0 bits, 1/3 16-bit, 2/4 32-bit, 5 decimal float
    int address = 0;
    int station = 0;
    int count = 0;           // bits for area 0, 16-bit words otherwise
    int remoteArg1 = 0;
    int remoteArg2 = 0;
    QByteArray data;         // value bytes, least significant first
};

// One queued request, as ComCommunication hands it out. Read-only for the host.
struct Protocol {
    QByteArray frame;
    int requestLength = 0;
    int replyLength = 0;     // -1: any length; 0: no reply expected
    int dataOffset = 0;
    int dataLength = 0;
    RW_VAR var;
    int extra1 = 0;          // carried along, never set by a builder
    int extra2 = 0;
    int extra3 = 0;
};

// One value-cache entry, keyed by (station, areaCode, address).
struct EXTENDVAR {
    int station = 0;
    int areaCode = 0;
    int address = 0;
    QByteArray data;
};

// The host's variable record handed to ReCreatReadVarList; read during the call only.
struct HOSTVAR {
    unsigned char kind;          // host's own, not read
    unsigned char areaCode;
    unsigned char station;
    int hostWord;                // host's own, not read
    QString addressText;
    QString text;
    int length;
};

// Word indices of the host's settings record (an array of 32-bit ints). The
// host fills the words marked "host" before SetComInfo; the driver writes the
// ones marked "driver" from the exchange thread. Words 0-3 and 5 are unused.
namespace MarovinSettings {
enum Word {
    maxUnits = 4,        // host: largest write piece in words (>= 1)
    defaultStation = 6,  // host: station of every variable when multiStation is 0
    retryLimit = 7,      // host: repeats of a failed request before a give-up
    retryCount = 8,      // driver: failures of the current request
    multiStation = 9,    // host: nonzero, each variable keeps its own station
    cleared10 = 10,      // driver: zeroed by SetComInfo, then left alone
    framesPerVar = 11,   // driver: requests queued for the current variable
    framesDone = 12,     // driver: of those, answered well so far
    cleared13 = 13,      // driver: zeroed by SetComInfo, then left alone
    remoteMode = 14,     // host: nonzero, descriptor frames instead of device frames
    localLinkNo = 15,    // host: variables with this linkNo are local
    writeMode = 16,      // host: 2 queues writes for the PLC; else cache only
    finishFlag = 17,     // driver: 1 after a read cycle or an idle turn; the host may reset it to 0
    notifyContext = 18,  // host: handed back as onceReadDone's first argument
    wordCount = 19   // a settings record holds at least this many words
};
}

// Host callbacks, registered with RegistCallBackFuncIntf. Both run on the
// exchange thread, inside ComCommunication or DataCom, with listMutex held; the
// driver ignores their results. Record what they say and act after the call:
// they must not call ComCommunication, DataCom, the set-up calls, the AddList*
// calls, ReCreatReadVarList or SetRegisterData (a deadlock or a list changed
// under the driver's feet). PLCAddressChangeIntef, GetRegisterData and
// QueryFinishFlag are safe; nothing blocking or slow belongs there.

// A once-read requester's reads have ended: outcome 1 all read, 2 given up or
// dropped. Comes once per (ownerType, ownerId) when no piece of it is left;
// local-link variables only.
typedef int (*OnceReadDoneFunc)(int notifyContext, int ownerType, int ownerId, int outcome);
// A variable was given up (from DataCom; `ownerType` is the result's), or a
// local-mode write was taken up (from ComCommunication). `list` is the driver's
// empty scratch list, destroyed after the call; `one` is always 1.
typedef int (*OwnerNotifyFunc)(QList<RW_VAR> *list, int ownerType, int one);

struct MarovinCacheIndex;  // lookup index over extendList, private to the driver
struct MarovinPrivate;     // the driver's reusable per-exchange state

// The driver state; one instance, PLC_driver, per process. Hosts use the entry
// points below, not these members (listMutex guards the lists and the frame
// queue, dataMutex the value cache; listMutex is always taken first).
class MAROVIN_API Marovin {
public:
    Marovin();
    ~Marovin();

    int *settings;
    QList<RW_VAR> readList;
    QList<RW_VAR> writeList;
    QList<RW_VAR> onceReadList;
    QList<RW_VAR> spareList;
    QList<Protocol> frameQueue;
    QList<EXTENDVAR> extendList;
    OnceReadDoneFunc onceReadDone;
    OwnerNotifyFunc ownerNotify;
    QMutex listMutex;
    QMutex dataMutex;
    RW_VAR result;
    int phase;
    int writeBurst;
    int onceBurst;
    int goodReplies;
    bool commFailed;
    bool spareFlag;
    // Added after the specified members.
    MarovinCacheIndex *cacheIndex;
    MarovinPrivate *priv;

private:
    Marovin(const Marovin &);
    Marovin &operator=(const Marovin &);
};

extern MAROVIN_API Marovin PLC_driver;
extern MAROVIN_API void *LB;   // set by FlashLocalRegister, never used by the driver
extern MAROVIN_API void *LW;
extern MAROVIN_API void *RWI;

// Entry points, exported under these plain names. "Exchange thread": the one
// host thread that runs ComCommunication and DataCom; set-up calls also run
// there, before the loop or between two exchanges. Bad input gets the failure
// value given here and changes nothing (docs/bad-input.md has every case).
extern "C" {
// Keeps the host's settings record (MarovinSettings words; at least wordCount
// ints, alive while the driver is used) and zeroes its words 10 and 13. Null
// withdraws it: the calls that need it then fail. Exchange thread; no lock.
MAROVIN_API void SetComInfo(int *settings);
// Keeps three host memory pointers in LB, LW and RWI; the driver never reads
// or writes through them. Exchange thread; no lock.
MAROVIN_API void FlashLocalRegister(void *lb, void *lw, void *rwi);
// Keeps the two callbacks, replacing earlier ones; null skips that notice.
// Exchange thread, before the first ComCommunication; no lock.
MAROVIN_API void RegistCallBackFuncIntf(OnceReadDoneFunc onceReadDone, OwnerNotifyFunc ownerNotify);
// The driver's reading of an address text: area 0 one of the decimal status
// bits 2 5 12 16 24 25 28-31 34 36-39, other areas hexadecimal; -1 when
// rejected. Any thread, callbacks included; touches no state.
MAROVIN_API int PLCAddressChangeIntef(int areaCode, QString addressText);

// Appends a copy of *var to the cyclic read list as given: no parse (fill
// `address` yourself), no check, no limit. Result: the list's length; 0 for
// null. Takes no lock: exchange thread only, never from a callback.
MAROVIN_API int AddListReadVar(RW_VAR *var);
// Queues a copy of a write variable (mode 1: plain append; otherwise a waiting
// write of the same station/area/address/count is replaced, and a full list of
// 1024 drops it). Result: the write list's length; 0 for null. Any thread
// except a callback (takes listMutex). Screens normally use SetRegisterData.
MAROVIN_API int AddListWriteVar(RW_VAR *var, int mode);
// Queues a read done once for a requester (ownerType, ownerId), cut into one
// request per value; onceReadDone reports its end. Changes *var (address,
// count, station, remoteArg1/2) unless mode is 1. Result: the list's length;
// 0 for a rejected address, null or no settings. Any thread except a callback.
MAROVIN_API int AddListOnceReadVar(RW_VAR *var, int mode);
// Replaces the cyclic read list by the host's variables: rejected addresses and
// repeats are skipped, one status-bit entry per station. Result: the new
// list's length; 0 for null or no settings (list kept) or an empty host list
// (list emptied). Any thread except a callback (holds listMutex throughout).
MAROVIN_API int ReCreatReadVarList(QList<HOSTVAR> *hostList);

// The request to send next: a pending write, once-read or the next cyclic read;
// the same request again until DataCom has taken its reply. Null: nothing to
// send this turn (or no settings); call again later. The record belongs to the
// driver, is read-only and is valid until the next DataCom. Exchange thread
// only, never from a callback; may call both callbacks.
MAROVIN_API Protocol *ComCommunication(void);
// Hands over the reply to the last request: `length` bytes of *reply, 0 when
// nothing came. Returns the driver's result record (valid until the next
// DataCom; read it on the exchange thread): status 1 or 100 success, 0 the
// request will be repeated, 11-22/41-52/71-82 and 111-182 a give-up, 200
// without settings. When a variable ended, the record names it. Exchange
// thread only, never from a callback; may call both callbacks.
MAROVIN_API RW_VAR *DataCom(QByteArray *reply, int length);

// Copies `count` units of cached values into *out (least significant byte
// first; 1 byte per bit, 2 per word, 4 per 32-bit value or float, which takes 2
// units), growing it when short. A value never read is zero (and gets a cache
// entry). Result: 1, also when nothing was copied (count 0, unknown area); 0
// for a rejected address, a count outside 0-65536, null or no settings. The
// first argument is not read. Any thread, callbacks included (takes dataMutex).
MAROVIN_API int GetRegisterData(QString unused, int areaCode, QString addressText, int station,
                                QByteArray *out, int count);
// A screen's new value, bytes as GetRegisterData gives them. writeMode 2:
// queued for the PLC in pieces of maxUnits words, the cache follows when the
// frame is built; result the write list's length, 0 when refused or a piece
// was dropped. Other writeMode: into the cache only; result 1. 0 for a
// rejected address, null or no settings. Any thread except a callback (takes
// listMutex, then dataMutex, never both at once).
MAROVIN_API int SetRegisterData(QString hostText, int areaCode, QString addressText, int station,
                                QByteArray *value, int count, int ownerType, int ownerId);
// Always 1: writes are queued, never waited for. Any thread; touches no state.
MAROVIN_API int QueryFinishFlag(void);
}

#endif
