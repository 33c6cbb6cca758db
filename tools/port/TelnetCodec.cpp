#include "TelnetCodec.h"

namespace marovin_port {

using namespace telnet;

long TelnetDecoder::decode(std::uint8_t *bytes, std::size_t count, Handler &handler)
{
    std::size_t out = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = bytes[i];
        switch (state_) {
        case State::Data:
            if (b == kIac)
                state_ = State::Command;
            else
                bytes[out++] = b;
            break;
        case State::Command:
            state_ = State::Data;
            if (b == kIac) {
                bytes[out++] = b;
            } else if (b >= kWill && b <= kDont) {
                verb_ = b;
                state_ = State::Option;
            } else if (b == kSb) {
                subCount_ = 0;
                state_ = State::Sub;
            }
            // Anything else (NOP, GA, a stray SE...) carries nothing for a byte stream.
            break;
        case State::Option:
            state_ = State::Data;
            handler.negotiation(verb_, b);
            break;
        case State::Sub:
            if (b == kIac) {
                state_ = State::SubCommand;
                break;
            }
            if (subCount_ == kMaxSubnegotiation) {
                state_ = State::Failed;
                return -1;
            }
            sub_[subCount_++] = b;
            break;
        case State::SubCommand:
            if (b == kSe && subCount_ > 0) {
                state_ = State::Data;
                handler.subnegotiation(sub_, subCount_);
            } else if (b == kIac && subCount_ < kMaxSubnegotiation) {
                sub_[subCount_++] = b;
                state_ = State::Sub;
            } else {
                state_ = State::Failed;
                return -1;
            }
            break;
        case State::Failed:
            return -1;
        }
    }
    return state_ == State::Failed ? -1 : static_cast<long>(out);
}

void TelnetDecoder::reset()
{
    state_ = State::Data;
    subCount_ = 0;
}

void telnetEscape(const std::uint8_t *bytes, std::size_t count, std::vector<std::uint8_t> *out)
{
    for (std::size_t i = 0; i < count; ++i) {
        out->push_back(bytes[i]);
        if (bytes[i] == kIac)
            out->push_back(kIac);
    }
}

}  // namespace marovin_port
