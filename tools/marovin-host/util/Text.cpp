#include "util/Text.h"

#include <cctype>

namespace marovin_host {

std::string trim(const std::string &text)
{
    std::string::size_type begin = 0;
    std::string::size_type end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    return text.substr(begin, end - begin);
}

std::vector<std::string> split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

bool splitArguments(const std::string &text, std::vector<std::string> *out, std::string *error)
{
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (std::string::size_type i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote) {
            if (c == quote)
                quote = 0;
            else if (c == '\\' && quote == '"' && i + 1 < text.size())
                word += text[++i];
            else
                word += c;
        } else if (c == '\'' || c == '"') {
            quote = c;
            inWord = true;
        } else if (c == '\\' && i + 1 < text.size()) {
            word += text[++i];
            inWord = true;
        } else if (c == ' ' || c == '\t' || c == '\n') {
            if (inWord)
                out->push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quote) {
        *error = "unbalanced quote in --sim-args";
        return false;
    }
    if (inWord)
        out->push_back(word);
    return true;
}

bool isUtf8(const std::string &text)
{
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i++]);
        if (c < 0x80)
            continue;
        const int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
        if (c < 0xC2 || c > 0xF4 || text.size() - i < static_cast<std::size_t>(more))
            return false;
        unsigned long point = c & (0x3F >> more);
        for (int k = 0; k < more; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i++]);
            if ((next & 0xC0) != 0x80)
                return false;
            point = point << 6 | (next & 0x3F);
        }
        // Overlong forms, surrogates and points past U+10FFFF are no characters.
        const unsigned long least[] = {0, 0x80, 0x800, 0x10000};
        if (point < least[more] || (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF)
            return false;
    }
    return true;
}

}  // namespace marovin_host
