// The live value table: redrawn in place on a terminal, printed as blocks otherwise.
#ifndef MAROVIN_HOST_VALUE_TABLE_H
#define MAROVIN_HOST_VALUE_TABLE_H

#include "HostModel.h"

#include <cstdio>
#include <string>
#include <vector>

namespace marovin_host {

class ValueTable {
public:
    ValueTable(std::FILE *out, bool inPlace, bool shown) : out_(out), inPlace_(inPlace), shown_(shown) {}

    // Draws the header line and one line per row.
    void render(const std::string &header, const std::vector<ValueRow> &rows);
    // Prints a notice line above the table (also when the table is not shown).
    void notice(const std::string &line);
    // Leaves the cursor below the table.
    void finish();

private:
    void draw();

    std::FILE *out_;
    bool inPlace_;
    bool shown_;
    std::vector<std::string> lines_;
    int drawnLines_ = 0;
};

// The table's line for one row.
std::string rowLine(const ValueRow &row);
// The column heading line.
std::string headingLine();

}  // namespace marovin_host

#endif
