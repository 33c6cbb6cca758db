// Kept in step with the moving values of marovin-sim --demo.
#include "config/DemoVariables.h"

#include "config/VariableText.h"

namespace marovin_host {

std::vector<VariableEntry> demoVariables()
{
    const char *const texts[] = {"1:w16:10:4", "1:d32:20", "1:w16b:30", "1:d32b:40", "1:float:50",
                                 "1:bit:2",    "1:bit:12", "1:bit:25",  "1:bit:29"};
    std::vector<VariableEntry> out;
    for (const char *text : texts) {
        VariableEntry arg;
        std::string error;
        if (parseVariable(text, &arg, &error))
            out.push_back(arg);
    }
    return out;
}

}  // namespace marovin_host
