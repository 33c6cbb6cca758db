// The web panel's server as marovin-host runs it (web/http/WebServer: the
// bounded stream of BoundedServer, cpp-httplib's request parsing, the access
// check and the routes with their query strings), on a loopback port. Each
// input is one connection's bytes: sent, the sending side shut, the answer
// read to its end. Two servers: one on loopback without a token, one that
// takes itself for reachable from elsewhere, with a token and web writes on.
// The first byte picks the server. Every answer is HTTP, or nothing.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "FuzzCheck.h"
#include "util/Clock.h"
#include "web/WebContext.h"
#include "web/http/WebServer.h"

using namespace marovin_host;

namespace {

struct Panel {
    HttpOptions options;
    WriteQueue queue;
    std::unique_ptr<WebContext> context;
    std::unique_ptr<WebServer> server;
};

std::vector<TagRow> rows;
Panel panels[2];

std::vector<TagRow> makeRows()
{
    std::vector<TagRow> out(3);
    const char *names[] = {"speed", "1:bit:12", "level"};
    for (int i = 0; i < 3; ++i) {
        out[i].ref.area = i == 1 ? 0 : 1;
        out[i].ref.address = i == 1 ? 12 : 0x10 + i;
        out[i].tag.name = names[i];
        out[i].tag.writable = i != 2;
        out[i].reads = i;
    }
    out[2].tag.scale = 0.5;
    out[2].tag.unit = "mm";
    return out;
}

// Starts a panel; beyond loopback it wants its token.
bool start(Panel &p, bool loopback)
{
    p.options.listen = "127.0.0.1:0";
    p.options.host = "127.0.0.1";
    p.options.loopback = loopback;
    p.options.writes = !loopback;
    p.options.trace = true;
    p.options.token = loopback ? "" : "0123456789abcdef";
    p.options.history = 8;
    p.context.reset(new WebContext(p.options, rows, p.queue, nullptr));
    RunStats stats;
    const std::string port = "sim";
    p.context->feed.publish(RunView{rows, stats, LinkState::Up, port, monotonicMs()}, Moment{monotonicMs(), 0});
    // Event streams and writes end at once: no input waits for the loop.
    p.context->feed.close();
    p.context->writes.close();
    p.server.reset(new WebServer(*p.context));
    std::string error;
    return p.server->start(&error);
}

// Sends the bytes on a new connection and reads the answer to its end.
std::string roundTrip(int port, const std::uint8_t *data, std::size_t size)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    check(fd >= 0);
    // From a new loopback address each time: the server closes first, and the
    // TIME_WAIT it keeps for each connection would use up one address's ports.
    static std::uint32_t next = 0;
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(0x7F010000u + (next++ % 0xFFFFu) + 1);
    check(bind(fd, reinterpret_cast<sockaddr *>(&from), sizeof from) == 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    check(connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0);
    if (size)
        check(send(fd, data, size, MSG_NOSIGNAL) == static_cast<ssize_t>(size) || errno == EPIPE || errno == ECONNRESET);
    shutdown(fd, SHUT_WR);
    std::string answer;
    char buffer[4096];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0)
            break;
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return answer;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    rows = makeRows();
    return start(panels[0], true) && start(panels[1], false) ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const int port = panels[data[0] & 1].server->port();
    const std::string answer = roundTrip(port, data + 1, size - 1);
    check(answer.empty() || answer.compare(0, 9, "HTTP/1.1 ") == 0);
    return 0;
}
