// Colour-format tables of the video encoder set-up.
#ifndef QOR_COLOR_FORMATS_H_
#define QOR_COLOR_FORMATS_H_

#include <stddef.h>
#include <stdint.h>

namespace qor {

// Preferred input colour formats of a searched AVC encoder, best first.
extern const uint32_t kPreferredColorFormats[8];

// Name of an OpenMAX colour-format value for the set-up log line; "??" for
// values without one (this build's platform level decides some names).
const char* colorFormatName(uint32_t colorFormat);

// Formats the video push source can carry (laid out by the front end).
bool isPushSourceColorFormat(int32_t colorFormat);

}  // namespace qor

#endif  // QOR_COLOR_FORMATS_H_
