// Index over the value cache: (station, areaCode, address) -> position in
// extendList. extendList stays the store of record; the index only speeds up
// ExtendFindSameVar and is checked against the list on every hit.
#ifndef MAROVIN_CACHE_INDEX_H
#define MAROVIN_CACHE_INDEX_H

#include <cstdint>
#include <unordered_map>

struct MarovinCacheKey {
    int station;
    int areaCode;
    int address;
    bool operator==(const MarovinCacheKey &o) const
    {
        return station == o.station && areaCode == o.areaCode && address == o.address;
    }
};

struct MarovinCacheKeyHash {
    std::size_t operator()(const MarovinCacheKey &k) const
    {
        std::uint64_t h = static_cast<std::uint32_t>(k.address);
        h = h * 0x9E3779B97F4A7C15ull ^ static_cast<std::uint32_t>(k.station);
        h = h * 0x9E3779B97F4A7C15ull ^ static_cast<std::uint32_t>(k.areaCode);
        return static_cast<std::size_t>(h ^ (h >> 29));
    }
};

struct MarovinCacheIndex {
    std::unordered_map<MarovinCacheKey, int, MarovinCacheKeyHash> positions;
    int indexed = 0;  // entries of extendList [0, indexed) are in positions
    unsigned generation = 0;  // counts the times positions were forgotten
};

#endif
