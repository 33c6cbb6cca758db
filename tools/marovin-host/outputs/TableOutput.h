// The live value table: redrawn in place on a terminal, printed as blocks otherwise.
#ifndef MAROVIN_HOST_OUTPUTS_TABLE_OUTPUT_H
#define MAROVIN_HOST_OUTPUTS_TABLE_OUTPUT_H

#include "loop/Output.h"

#include <cstdio>
#include <string>
#include <vector>

namespace marovin_host {

class TableOutput : public Output {
public:
    // shown false: only the notices are printed (--quiet).
    TableOutput(std::FILE *out, bool inPlace, bool shown) : out_(out), inPlace_(inPlace), shown_(shown) {}

    void refresh(const RunView &view) override;
    // A time-stamped line above the table (also when the table is not shown).
    void notice(const Notice &notice) override;
    // Leaves the cursor below the table.
    void finish(const RunView &view) override;

private:
    void draw();

    std::FILE *out_;
    bool inPlace_;
    bool shown_;
    std::vector<std::string> lines_;
    int drawnLines_ = 0;
};

// The header line: port, link state, counters.
std::string tableHeader(const RunView &view);
// The column heading line, and the line of one row, with names nameWidth wide.
std::string headingLine(int nameWidth);
std::string rowLine(const TagRow &row, int nameWidth);

}  // namespace marovin_host

#endif
