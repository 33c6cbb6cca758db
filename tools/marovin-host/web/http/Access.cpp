#include "web/http/Access.h"

#include "web/routes/Routes.h"

#include <algorithm>
#include <cctype>

namespace marovin_host {

const char *const kTokenCookie = "marovin_token";

bool loopbackHostAllowed(const std::string &hostHeader, const std::string &host, int port)
{
    if (hostHeader.empty())
        return true;
    std::string h = hostHeader;
    std::transform(h.begin(), h.end(), h.begin(), [](unsigned char c) { return std::tolower(c); });
    const std::string bound = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    for (const std::string &name : {std::string("127.0.0.1"), std::string("localhost"), std::string("[::1]"), bound}) {
        if (h == name + ":" + std::to_string(port) || (port == 80 && h == name))
            return true;
    }
    return false;
}

std::string presentedToken(const std::string &authorization, const std::string &cookies)
{
    const std::string bearer = "Bearer ";
    if (authorization.compare(0, bearer.size(), bearer) == 0)
        return authorization.substr(bearer.size());
    const std::string key = std::string(kTokenCookie) + "=";
    std::string::size_type at = 0;
    while ((at = cookies.find(key, at)) != std::string::npos) {
        if (at == 0 || cookies[at - 1] == ' ' || cookies[at - 1] == ';') {
            const std::string::size_type start = at + key.size();
            return cookies.substr(start, cookies.find(';', start) - start);
        }
        at += key.size();
    }
    return std::string();
}

bool sameToken(const std::string &given, const std::string &token)
{
    if (token.empty() || given.size() != token.size())
        return false;
    unsigned char diff = 0;
    for (std::size_t i = 0; i < token.size(); ++i)
        diff |= static_cast<unsigned char>(given[i] ^ token[i]);
    return diff == 0;
}

std::string tokenCookie(const std::string &token, bool tls)
{
    // Cookies ignore ports: without Secure a browser would hand the token to a
    // plain-HTTP server on the same host too.
    return std::string(kTokenCookie) + "=" + token + "; Path=/; HttpOnly; SameSite=Strict" + (tls ? "; Secure" : "");
}

bool carriesToken(const httplib::Request &req, const std::string &token)
{
    return sameToken(presentedToken(req.get_header_value("Authorization"), req.get_header_value("Cookie")), token);
}

void askForToken(httplib::Response &res, const std::string &text)
{
    res.set_header("WWW-Authenticate", "Bearer");
    sendError(res, 401, text);
}

}  // namespace marovin_host
