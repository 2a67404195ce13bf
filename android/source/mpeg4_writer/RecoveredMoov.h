// The moov of a recording mended from its journal.
#ifndef QOR_RECOVERED_MOOV_H_
#define QOR_RECOVERED_MOOV_H_

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "mpeg4_writer/Mp4Recovery.h"

namespace qor {

// The moov describing the first `chunkCount` chunks of the journal; false
// when no track has a sample to show.
bool buildRecoveredMoov(const JournalContents& j, size_t chunkCount, uint64_t now,
                        std::vector<uint8_t>* moov);

}  // namespace qor

#endif  // QOR_RECOVERED_MOOV_H_
