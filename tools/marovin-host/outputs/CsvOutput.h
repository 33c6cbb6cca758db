// CSV log: one line of values per refresh, for plotting; columns named by tag.
#ifndef MAROVIN_HOST_OUTPUTS_CSV_OUTPUT_H
#define MAROVIN_HOST_OUTPUTS_CSV_OUTPUT_H

#include "loop/Output.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace marovin_host {

class CsvOutput : public Output {
public:
    ~CsvOutput() override;
    // Creates the file and writes the heading: time, elapsed_s, one column per
    // row; null with a message in *error when it cannot.
    static std::unique_ptr<CsvOutput> open(const std::string &path, const std::vector<TagRow> &rows,
                                           std::string *error);
    // Appends one line; a value not read yet is left empty.
    void refresh(const RunView &view) override;

private:
    explicit CsvOutput(std::FILE *out) : out_(out) {}
    std::FILE *out_;
};

}  // namespace marovin_host

#endif
