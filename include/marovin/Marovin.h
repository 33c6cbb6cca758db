// Host interface of libMarovin.so.1, the PLC communication driver.
//
// A host reads these records by offset: field order and types are fixed.
// Members added by later versions only ever go after the last one below.
#ifndef MAROVIN_H
#define MAROVIN_H

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>

#define MAROVIN_API __attribute__((visibility("default")))

// Variable descriptor: what the host registers and the driver copies into its lists.
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

// One queued request.
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

// The host's variable record handed to ReCreatReadVarList.
struct HOSTVAR {
    unsigned char kind;          // host's own, not read
    unsigned char areaCode;
    unsigned char station;
    int hostWord;                // host's own, not read
    QString addressText;
    QString text;
    int length;
};

// Word indices of the host's settings record (an array of 32-bit ints).
namespace MarovinSettings {
enum Word {
    maxUnits = 4,
    defaultStation = 6,
    retryLimit = 7,
    retryCount = 8,
    multiStation = 9,
    cleared10 = 10,
    framesPerVar = 11,
    framesDone = 12,
    cleared13 = 13,
    remoteMode = 14,
    localLinkNo = 15,
    writeMode = 16,
    finishFlag = 17,
    notifyContext = 18,
    wordCount = 19   // a settings record holds at least this many words
};
}

typedef int (*OnceReadDoneFunc)(int notifyContext, int ownerType, int ownerId, int outcome);
typedef int (*OwnerNotifyFunc)(QList<RW_VAR> *list, int ownerType, int one);

struct MarovinCacheIndex;  // lookup index over extendList, private to the driver
struct MarovinPrivate;     // the driver's reusable per-exchange state

// The driver state; one instance, PLC_driver, per process.
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
extern MAROVIN_API void *LB;
extern MAROVIN_API void *LW;
extern MAROVIN_API void *RWI;

extern "C" {
MAROVIN_API void SetComInfo(int *settings);
MAROVIN_API void FlashLocalRegister(void *lb, void *lw, void *rwi);
MAROVIN_API void RegistCallBackFuncIntf(OnceReadDoneFunc onceReadDone, OwnerNotifyFunc ownerNotify);
MAROVIN_API int PLCAddressChangeIntef(int areaCode, QString addressText);

MAROVIN_API int AddListReadVar(RW_VAR *var);
MAROVIN_API int AddListWriteVar(RW_VAR *var, int mode);
MAROVIN_API int AddListOnceReadVar(RW_VAR *var, int mode);
MAROVIN_API int ReCreatReadVarList(QList<HOSTVAR> *hostList);

MAROVIN_API Protocol *ComCommunication(void);
MAROVIN_API RW_VAR *DataCom(QByteArray *reply, int length);

MAROVIN_API int GetRegisterData(QString unused, int areaCode, QString addressText, int station,
                                QByteArray *out, int count);
MAROVIN_API int SetRegisterData(QString hostText, int areaCode, QString addressText, int station,
                                QByteArray *value, int count, int ownerType, int ownerId);
MAROVIN_API int QueryFinishFlag(void);
}

#endif
