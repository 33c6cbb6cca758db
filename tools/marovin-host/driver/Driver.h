// The driver as the rest of the host sees it: loaded at run time the way a
// panel runtime loads it, set up, and driven exchange by exchange. Only this
// room knows the driver's header and records.
#ifndef MAROVIN_HOST_DRIVER_DRIVER_H
#define MAROVIN_HOST_DRIVER_DRIVER_H

#include "driver/DriverSettings.h"
#include "model/OnceRead.h"
#include "model/TagRow.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace marovin_host {

// Owner codes the host gives its variables; they come back as status-code offsets.
const int kOwnerCyclic = 0;  // the rebuilt read list
const int kOwnerWrite = 2;
const int kOwnerOnceRead = 3;

// A request the driver hands out; frame stays valid until the next handReply.
struct DriverRequest {
    const std::uint8_t *frame = nullptr;
    int length = 0;
    int replyLength = 0;  // < 0: unknown, 0: no reply expected
    int ownerType = 0;
    int ownerId = 0;
    int accessMode = 0;  // 1: a write
    int station = 0;
    int area = 0;
    int address = 0;
};

// What DataCom made of a reply.
struct DriverReply {
    int status = 200;
    bool finished = false;  // the variable's last request was answered, or it was given up
    bool cycleDone = false;  // a read cycle completed (the finish flag rose; it is lowered again)
};

struct DriverApi;

class Driver {
public:
    // Loads the library (explicitPath, or the one built beside this tool, then
    // the search path) and resolves every entry point; null with a message.
    static std::unique_ptr<Driver> load(const std::string &explicitPath, std::string *error);
    ~Driver();
    Driver(const Driver &) = delete;
    Driver &operator=(const Driver &) = delete;
    const std::string &path() const;

    // SetComInfo, FlashLocalRegister and RegistCallBackFuncIntf, in that order.
    void setUp(const DriverSettings &settings);
    // The driver's own parse of an address text (PLCAddressChangeIntef); -1 when refused.
    int parseAddress(int area, const std::string &text) const;
    // Builds the host variable list and has the driver rebuild its read list; returns its length.
    int registerReadList(const std::vector<TagRow> &rows);
    // Registers each once-read (mode 0); one the driver refuses is marked Rejected.
    void registerOnceReads(std::vector<OnceRead> *items);

    // ComCommunication: false on an idle turn.
    bool nextRequest(DriverRequest *out);
    // DataCom with the reply (or nothing), which it may change.
    DriverReply handReply(QByteArray &reply);
    // Whether a read cycle completed since the last look (the finish flag); lowers it.
    bool takeCycleEnd();

    // SetRegisterData of raw value bytes (least significant first) with the
    // driver's unit count; false when the driver refused it.
    bool write(const ValueRef &ref, const char *bytes, int size, int count, int ownerId);
    // GetRegisterData of one value, decoded for the tag; false when the cache has none.
    bool fetch(const ValueRef &ref, const TagInfo &tag, TagValue *out);
    // Row index's value (the rows of registerReadList), decoded for its tag;
    // false when the cache has none.
    bool fetchRow(std::size_t index, TagRow *row);
    // Fetches every row's value.
    void fetchAll(std::vector<TagRow> *rows);

private:
    Driver();
    // GetRegisterData's own; the read list's address texts made once.
    bool fetchAt(const ValueRef &ref, const QString &address, const TagInfo &tag, TagValue *out);

    std::unique_ptr<DriverApi> api_;
    std::vector<QString> rowAddresses_;
    // Reused by every fetch (loop thread), so that a fetch allocates nothing.
    QByteArray fetched_;
    int settings_[kSettingsWords] = {};
    bool remote_ = false;
    int linkNo_ = 0;
    // The memory blocks lent to the driver (it keeps their addresses only).
    std::uint8_t bits_[256] = {};
    std::uint16_t words_[256] = {};
    std::uint16_t spare_[64] = {};
};

}  // namespace marovin_host

#endif
