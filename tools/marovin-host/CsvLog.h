// CSV log: one line of values per refresh, for plotting.
#ifndef MAROVIN_HOST_CSV_LOG_H
#define MAROVIN_HOST_CSV_LOG_H

#include "HostModel.h"

#include <cstdio>
#include <string>
#include <vector>

namespace marovin_host {

class CsvLog {
public:
    CsvLog() = default;
    ~CsvLog();
    CsvLog(const CsvLog &) = delete;
    CsvLog &operator=(const CsvLog &) = delete;

    // Creates the file and writes the heading: time, elapsed_s, one column per row.
    bool open(const std::string &path, const std::vector<ValueRow> &rows, std::string *error);
    bool enabled() const { return out_ != nullptr; }
    // Appends one line; a value not read yet is left empty.
    void append(double elapsedS, const std::vector<ValueRow> &rows);

private:
    std::FILE *out_ = nullptr;
};

}  // namespace marovin_host

#endif
