// What the fuzz targets share: a broken invariant is a finding, said and
// then crashed on, so that libFuzzer keeps the input.
#ifndef MAROVIN_FUZZ_CHECK_H
#define MAROVIN_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>
#include <string>

namespace marovin_fuzz {

[[noreturn]] inline void fail(const char *file, int line, const char *what)
{
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    std::abort();
}

// The input as text.
inline std::string text(const unsigned char *data, std::size_t size)
{
    return std::string(reinterpret_cast<const char *>(data), size);
}

}  // namespace marovin_fuzz

#define check(cond) ((cond) ? (void)0 : marovin_fuzz::fail(__FILE__, __LINE__, #cond))

#endif
