// Frames as trace lines, for the trace file and the web panel's trace alike.
#ifndef MAROVIN_HOST_MODEL_FRAME_TEXT_H
#define MAROVIN_HOST_MODEL_FRAME_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace marovin_host {

// "TIME TX [08][00]..."
std::string sentFrameLine(const std::string &time, const std::uint8_t *bytes, std::size_t count);
// "TIME RX <..><..> status N (note)"; "(nothing)" for no bytes.
std::string receivedFrameLine(const std::string &time, const std::uint8_t *bytes, std::size_t count, int status,
                              const std::string &note);

}  // namespace marovin_host

#endif
