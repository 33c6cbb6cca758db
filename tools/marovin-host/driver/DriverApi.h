// The driver's entry points by name; known to this room only.
#ifndef MAROVIN_HOST_DRIVER_DRIVER_API_H
#define MAROVIN_HOST_DRIVER_DRIVER_API_H

#include "Marovin.h"

#include <string>

namespace marovin_host {

struct DriverApi {
    void *handle = nullptr;
    std::string path;  // what was loaded
    decltype(&SetComInfo) setComInfo = nullptr;
    decltype(&FlashLocalRegister) flashLocalRegister = nullptr;
    decltype(&RegistCallBackFuncIntf) registCallBackFuncIntf = nullptr;
    decltype(&PLCAddressChangeIntef) plcAddressChangeIntef = nullptr;
    decltype(&AddListReadVar) addListReadVar = nullptr;
    decltype(&AddListWriteVar) addListWriteVar = nullptr;
    decltype(&AddListOnceReadVar) addListOnceReadVar = nullptr;
    decltype(&ReCreatReadVarList) reCreatReadVarList = nullptr;
    decltype(&ComCommunication) comCommunication = nullptr;
    decltype(&DataCom) dataCom = nullptr;
    decltype(&GetRegisterData) getRegisterData = nullptr;
    decltype(&SetRegisterData) setRegisterData = nullptr;
    decltype(&QueryFinishFlag) queryFinishFlag = nullptr;
};

// Loads the library (explicitPath, or the one built beside this tool, then the
// search path) and resolves every entry point; false with a message in *error.
bool loadDriver(const std::string &explicitPath, DriverApi *api, std::string *error);

}  // namespace marovin_host

#endif
