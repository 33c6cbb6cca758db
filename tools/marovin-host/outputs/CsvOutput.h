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
    // Opens the file to append, with the heading (time, elapsed_s, one column
    // per row) when it is new; a file with another heading is renamed
    // FILE.YYYYMMDDTHHMMSS first, with a notice. Null with a message in *error
    // when it cannot.
    static std::unique_ptr<CsvOutput> open(const std::string &path, const std::vector<TagRow> &rows,
                                           std::string *error);
    // Appends one line; a value not read yet is left empty.
    void refresh(const RunView &view) override;
    void collectNotices(std::vector<Notice> &notices) override;

private:
    explicit CsvOutput(std::FILE *out) : out_(out) {}
    std::FILE *out_;
    std::vector<Notice> notes_;
};

}  // namespace marovin_host

#endif
