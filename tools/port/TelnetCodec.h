// The telnet byte stream (RFC 854/855): data with the byte 0xFF doubled,
// commands after 0xFF, option negotiation and subnegotiations.
#ifndef MAROVIN_TOOLS_TELNET_CODEC_H
#define MAROVIN_TOOLS_TELNET_CODEC_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace marovin_port {

namespace telnet {
constexpr std::uint8_t kSe = 240, kSb = 250, kWill = 251, kWont = 252, kDo = 253, kDont = 254, kIac = 255;
constexpr std::uint8_t kBinary = 0, kSuppressGoAhead = 3, kComPortOption = 44;
}  // namespace telnet

class TelnetDecoder {
public:
    // What the peer sent besides data.
    class Handler {
    public:
        virtual ~Handler() = default;
        // WILL, WONT, DO or DONT for an option.
        virtual void negotiation(std::uint8_t verb, std::uint8_t option) = 0;
        // The bytes between IAC SB and IAC SE, the option first, 0xFF undoubled.
        virtual void subnegotiation(const std::uint8_t *bytes, std::size_t count) = 0;
    };

    // Longest subnegotiation taken; the line settings need 6 bytes.
    static constexpr std::size_t kMaxSubnegotiation = 64;

    // Decodes received bytes in place: the data bytes move to the front and
    // their number is returned; commands go to the handler. A sequence may
    // span calls. -1: the peer broke the protocol (an over-long or malformed
    // subnegotiation); the decoder then stays failed until reset().
    long decode(std::uint8_t *bytes, std::size_t count, Handler &handler);
    void reset();

private:
    enum class State : std::uint8_t { Data, Command, Option, Sub, SubCommand, Failed };
    State state_ = State::Data;
    std::uint8_t verb_ = 0;
    std::size_t subCount_ = 0;
    std::uint8_t sub_[kMaxSubnegotiation];
};

// Appends bytes to *out with every 0xFF doubled.
void telnetEscape(const std::uint8_t *bytes, std::size_t count, std::vector<std::uint8_t> *out);

}  // namespace marovin_port

#endif
