/*
 * An encoder's access unit (Annex B: NAL units behind 3- or 4-byte start
 * codes) as an MP4 sample: each NAL unit behind its own big-endian length.
 * Parameter sets met inside an access unit are left out: the track's avcC
 * holds them, so no sample carries them.
 */
#ifndef QOR_AVC_SAMPLE_FORMAT_H_
#define QOR_AVC_SAMPLE_FORMAT_H_

#include <stddef.h>
#include <stdint.h>

#include <utility>
#include <vector>

namespace qor {

// (offset, length) of each NAL unit of the access unit; a buffer that does
// not start with a start code is one NAL unit.
std::vector<std::pair<size_t, size_t>> splitAnnexB(const uint8_t* data, size_t size);

// True for an SPS or PPS (stored in the avcC, not in samples).
bool isParameterSet(uint8_t nalHeader);

// Bytes of the sample `units` of `data` make with `prefixBytes`-byte
// lengths, parameter sets left out.
size_t lengthPrefixedSize(const uint8_t* data, const std::vector<std::pair<size_t, size_t>>& units,
                          size_t prefixBytes);

// Writes that sample to `out` (lengthPrefixedSize bytes of room); returns
// its size.
size_t writeLengthPrefixed(const uint8_t* data, const std::vector<std::pair<size_t, size_t>>& units,
                           size_t prefixBytes, uint8_t* out);

}  // namespace qor

#endif  // QOR_AVC_SAMPLE_FORMAT_H_
