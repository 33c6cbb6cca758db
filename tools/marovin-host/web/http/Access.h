// Who may use the web server: the Host header a loopback server accepts, and
// the token a request carries.
#ifndef MAROVIN_HOST_WEB_HTTP_ACCESS_H
#define MAROVIN_HOST_WEB_HTTP_ACCESS_H

#include <httplib.h>

#include <string>

namespace marovin_host {

// The cookie that carries the token once a page was opened with ?token=T.
extern const char *const kTokenCookie;

// Whether a loopback server bound to host:port answers a request with this
// Host header. Others are turned away, so that a web page whose name was made
// to point at this machine cannot use the server from a browser.
bool loopbackHostAllowed(const std::string &hostHeader, const std::string &host, int port);
// The token of "Authorization: Bearer T" or of the token cookie; empty if none.
std::string presentedToken(const std::string &authorization, const std::string &cookies);
// Compares in a time that does not depend on where they differ; an empty
// token matches nothing.
bool sameToken(const std::string &given, const std::string &token);
// The Set-Cookie value that stores the token for this server's pages.
std::string tokenCookie(const std::string &token, bool tls);
// Whether the request carries the token (as a bearer or in the cookie).
bool carriesToken(const httplib::Request &req, const std::string &token);
// 401 with the challenge that asks for the token.
void askForToken(httplib::Response &res, const std::string &text);

}  // namespace marovin_host

#endif
