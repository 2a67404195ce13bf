/*
 * The AVC decoder configuration record (the avcC body) from an encoder's
 * codec configuration buffer: start-code delimited SPS and PPS are parsed
 * and rebuilt; a buffer that already is a record is taken as it is.
 */
#ifndef QOR_AVC_DECODER_CONFIG_RECORD_H_
#define QOR_AVC_DECODER_CONFIG_RECORD_H_

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include <utils/Errors.h>

namespace qor {

// The record's NAL length size says 4 bytes; the writer sets the one it
// uses when it writes the box. ERROR_MALFORMED (with the reason logged)
// for a buffer that is neither a record nor parameter sets.
android::status_t buildAvcDecoderConfigRecord(const uint8_t* data, size_t size,
                                              std::vector<uint8_t>* record);

}  // namespace qor

#endif  // QOR_AVC_DECODER_CONFIG_RECORD_H_
