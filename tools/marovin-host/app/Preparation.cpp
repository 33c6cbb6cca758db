// From the option texts to checked variables, once-reads and encoded writes.
#include "app/Wiring.h"

#include "config/DemoVariables.h"
#include "config/TagFile.h"
#include "config/VariableText.h"
#include "writes/CommandLineWrites.h"

namespace marovin_host {

namespace {

// Parses -v, --vars, --tags, -o and -w into their records.
bool parseEntries(const HostOptions &o, std::vector<VariableEntry> *variables, std::vector<VariableEntry> *onceReads,
                std::vector<WriteEntry> *writes, std::string *error)
{
    for (const std::string &text : o.variables) {
        VariableEntry entry;
        if (!parseVariable(text, &entry, error))
            return false;
        variables->push_back(entry);
    }
    for (const std::string &path : o.variableFiles) {
        if (!readVariableFile(path, variables, error))
            return false;
    }
    for (const std::string &path : o.tagFiles) {
        if (!readTagFile(path, variables, error))
            return false;
    }
    for (const std::string &text : o.onceReads) {
        VariableEntry entry;
        if (!parseVariable(text, &entry, error, "once-read"))
            return false;
        onceReads->push_back(entry);
    }
    for (const std::string &text : o.writes) {
        WriteEntry entry;
        if (!parseWrite(text, &entry, error))
            return false;
        writes->push_back(entry);
    }
    return true;
}

// Sets the failure and says no.
bool fail(Failure *failure, int code, const std::string &message)
{
    failure->code = code;
    failure->message = message;
    return false;
}

}  // namespace

LoopSettings loopSettings(const HostOptions &o, const std::string &portText)
{
    LoopSettings s = o.loop;
    s.multiStation = o.driver.multiStation;
    s.cacheWrites = o.driver.writeMode != 2;
    s.portText = portText;
    return s;
}

bool prepareVariables(const HostOptions &o, std::unique_ptr<Driver> *driver, HostVariables *vars,
                      std::vector<WriteRequest> *writes, Failure *failure)
{
    std::string error;
    std::vector<VariableEntry> variables;
    std::vector<VariableEntry> onceReads;
    std::vector<WriteEntry> writeEntries;
    if (!parseEntries(o, &variables, &onceReads, &writeEntries, &error))
        return fail(failure, kUsage, error);
    if (variables.empty()) {
        if (o.portKind == PortKind::Simulator)
            variables = demoVariables();
        else if (onceReads.empty() && writeEntries.empty())
            return fail(failure, kUsage, "no variables: give -v STATION:AREA:ADDR, --vars FILE, --tags FILE, -w or -o");
    }
    *driver = Driver::load(o.libraryPath, &error);
    if (!*driver)
        return fail(failure, kRuntimeFailure, error);
    if (!setUpVariables(**driver, o.driver, variables, onceReads, writeEntries, vars, &error))
        return fail(failure, kUsage, error);
    if (!encodeCommandLineWrites(vars->writes, o.driver.writeMode == 2, o.driver.maxUnits, writes, &error))
        return fail(failure, kUsage, error);
    return true;
}

}  // namespace marovin_host
