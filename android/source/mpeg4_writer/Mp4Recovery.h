/*
 * Mends a recording that was cut short, and nothing else. Before a byte is
 * written, the journal must prove it belongs to the file: the file's layout
 * (ftyp, the reservation, mdat) is where the journal says, and each chunk's
 * bytes have the CRC the journal recorded (the first that does not ends the
 * recording: a torn last chunk). The moov then goes into the reservation at
 * the file's head when it fits, else after the last whole chunk; it is
 * written and synced before anything is cut off. A file that is complete
 * by ISO BMFF's rules, whoever wrote it, is never changed.
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
        uint32_t crc = 0;
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
    kRecovered,  // the file was mended, the journal removed
    kComplete,   // the file was complete already and is left as it was
    kFailed,     // the file does not play; nothing was changed (logged why)
};

// Mends the recording at `path` from `<path>.journal`. The file plays
// afterwards unless the result is kFailed.
RecoveryResult recoverRecording(const char* path);

// The writer's own cut recording (its disk failed): mends `mediaFd` from
// the journal it kept, giving up the recording's tail where the disk has
// no room for the moov. The journal is neither closed nor removed.
RecoveryResult finishRecording(int mediaFd, const RecoveryJournal& journal);

}  // namespace qor

#endif  // QOR_MP4_RECOVERY_H_
