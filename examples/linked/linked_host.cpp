// The driver linked at build time (find_package(Marovin), target
// Marovin::Marovin) instead of loaded with dlopen: the entry points are plain
// calls. Without a line, it stores a value the way a screen does, reads it
// back, and shows the request the exchange thread would send next.
#include <marovin/Marovin.h>

#include <cstdio>

int main()
{
    // The host's settings record; the driver keeps its address.
    static int settings[MarovinSettings::wordCount] = {};
    settings[MarovinSettings::maxUnits] = 8;
    settings[MarovinSettings::defaultStation] = 1;
    settings[MarovinSettings::writeMode] = 1;  // cache only: nothing goes to a PLC
    SetComInfo(settings);

    // A screen's write and read of word 0x10, least significant byte first.
    QByteArray value("\x34\x12", 2);
    QByteArray back;
    if (SetRegisterData(QString(), 1, QString("10"), 1, &value, 1, 2, 1) != 1 ||
        GetRegisterData(QString(), 1, QString("10"), 1, &back, 1) != 1 || back != value) {
        std::fprintf(stderr, "linked_host: the value did not come back\n");
        return 1;
    }
    std::printf("word 0x10 = 0x%02X%02X\n", static_cast<unsigned char>(back.at(1)),
                static_cast<unsigned char>(back.at(0)));

    // A cyclic read of the same word and the frame that asks for it.
    RW_VAR var;
    var.addressText = QString("10");
    var.areaCode = 1;
    var.address = PLCAddressChangeIntef(var.areaCode, var.addressText);
    var.station = 1;
    var.count = 1;
    AddListReadVar(&var);
    const Protocol *request = ComCommunication();
    if (!request) {
        std::fprintf(stderr, "linked_host: no request\n");
        return 1;
    }
    std::printf("request");
    for (int i = 0; i < request->requestLength; ++i)
        std::printf(" %02X", static_cast<unsigned char>(request->frame.at(i)));
    std::printf(", reply of %d bytes expected\n", request->replyLength);
    return 0;
}
