// The --historian URL: an accepted one has a host and a database; a refusal
// never shows the password, wherever its '@' and ':' fall.
#include <algorithm>
#include <cctype>
#include <cstdint>

#include "FuzzCheck.h"
#include "config/StoreOptions.h"

using namespace marovin_host;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string text = marovin_fuzz::text(data, size);
    std::string error;
    if (checkHistorianUrl(text, &error)) {
        check(error.empty());
        check(text.compare(0, 13, "postgresql://") == 0 || text.compare(0, 11, "postgres://") == 0);
        return 0;
    }
    check(!error.empty());
    // Between "USER:" and the last '@' before the path: what libpq would take as the password.
    const std::string::size_type start = text.find("://");
    if (start == std::string::npos)
        return 0;
    const std::string::size_type slash = text.find('/', start + 3);
    const std::string::size_type at = text.rfind('@', slash);
    const std::string::size_type colon = text.find(':', start + 3);
    if (at == std::string::npos || at < start + 3 || colon >= at)
        return 0;
    const std::string password = text.substr(colon + 1, at - colon - 1);
    const bool plain = std::all_of(password.begin(), password.end(), [](char c) { return std::isalnum(c & 0xFF); });
    // Only the quoted URL: the message's own words ("bad value") may hold a short password.
    const std::string::size_type open = error.find('\'') + 1;
    const std::string quoted = error.substr(open, error.rfind("' (expected") - open);
    if (plain && password.size() >= 4 && text.find(password) == text.rfind(password))
        check(quoted.find(password) == std::string::npos);
    return 0;
}
