// Small text helpers shared by the parsers.
#ifndef MAROVIN_HOST_UTIL_TEXT_H
#define MAROVIN_HOST_UTIL_TEXT_H

#include <string>
#include <vector>

namespace marovin_host {

// text without leading and trailing blanks.
std::string trim(const std::string &text);
// Splits text at every separator, keeping empty parts.
std::vector<std::string> split(const std::string &text, char separator);
// Splits an argument string the way a shell would for plain words and quotes;
// false with a message for an unbalanced quote.
bool splitArguments(const std::string &text, std::vector<std::string> *out, std::string *error);
// Whether text is well-formed UTF-8, as MQTT requires of topics and client ids.
bool isUtf8(const std::string &text);

}  // namespace marovin_host

#endif
