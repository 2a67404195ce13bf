/*
 * Mends a recording that was cut short: from its recovery journal, the
 * chunks that reached the file get their moov (into the reservation at the
 * file's head when it fits, else after the last whole chunk, giving up as
 * little of the mdat's tail as the moov needs), and the journal goes.
 */
#ifndef QOR_MP4_RECOVERY_H_
#define QOR_MP4_RECOVERY_H_

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "mpeg4_writer/RecoveryJournal.h"

namespace qor {

// What a journal holds, as far as it is whole and consistent.
struct JournalContents {
    struct Chunk {
        uint32_t trackId = 0;
        int64_t offset = 0;
        int64_t bytes = 0;
        std::vector<journal::SampleInfo> samples;
    };
    bool hasFile = false;
    journal::FileInfo file;
    std::vector<journal::TrackInfo> tracks;
    std::vector<Chunk> chunks;
};

// Reads the journal's bytes up to the first record that is cut, damaged or
// inconsistent. False when not even the file layout can be read.
bool parseJournal(const uint8_t* data, size_t size, JournalContents* out);

enum class RecoveryResult {
    kRecovered,    // the file was mended, the journal removed
    kNothingToDo,  // no journal, or the file was already complete
    kFailed,       // no playable file can be made; both files stay
};

RecoveryResult recoverRecording(const char* path);

}  // namespace qor

#endif  // QOR_MP4_RECOVERY_H_
