#include "mpeg4_writer/AvcSampleFormat.h"

#include <string.h>

namespace qor {

namespace {

// Position of the next 00 00 01 at or after `from`; `size` when none.
size_t findStartCode(const uint8_t* data, size_t size, size_t from) {
    for (size_t i = from; i + 3 <= size; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) return i;
    }
    return size;
}

}  // namespace

std::vector<std::pair<size_t, size_t>> splitAnnexB(const uint8_t* data, size_t size) {
    std::vector<std::pair<size_t, size_t>> units;
    size_t code = findStartCode(data, size, 0);
    // Only zero bytes may come before the first start code.
    for (size_t i = 0; i < code && code < size; ++i) {
        if (data[i] != 0) code = size;
    }
    if (code == size) {
        if (size > 0) units.emplace_back(0, size);
        return units;
    }
    while (code < size) {
        const size_t begin = code + 3;
        const size_t next = findStartCode(data, size, begin);
        size_t end = next;
        // The zero byte of a 4-byte start code (and trailing zeros) belong
        // to no NAL unit.
        while (end > begin && data[end - 1] == 0) --end;
        if (end > begin) units.emplace_back(begin, end - begin);
        code = next;
    }
    return units;
}

bool isParameterSet(uint8_t nalHeader) {
    const uint8_t type = nalHeader & 0x1F;
    return type == 7 || type == 8;
}

size_t lengthPrefixedSize(const uint8_t* data, const std::vector<std::pair<size_t, size_t>>& units,
                          size_t prefixBytes) {
    size_t total = 0;
    for (const auto& u : units) {
        if (!isParameterSet(data[u.first])) total += prefixBytes + u.second;
    }
    return total;
}

size_t writeLengthPrefixed(const uint8_t* data, const std::vector<std::pair<size_t, size_t>>& units,
                           size_t prefixBytes, uint8_t* out) {
    size_t pos = 0;
    for (const auto& u : units) {
        if (isParameterSet(data[u.first])) continue;
        for (size_t i = 0; i < prefixBytes; ++i) {
            out[pos + i] = (uint8_t)(u.second >> (8 * (prefixBytes - 1 - i)));
        }
        memcpy(out + pos + prefixBytes, data + u.first, u.second);
        pos += prefixBytes + u.second;
    }
    return pos;
}

}  // namespace qor
