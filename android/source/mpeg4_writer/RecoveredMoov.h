// The moov of a recording mended from its journal.
#ifndef QOR_RECOVERED_MOOV_H_
#define QOR_RECOVERED_MOOV_H_

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <vector>

#include "mpeg4_writer/ByteSink.h"
#include "mpeg4_writer/JournalReader.h"
#include "mpeg4_writer/SampleTable.h"

namespace qor {

// The sample tables of the chunks replayed into it, and the moov that
// describes them with the headers a clean stop writes (the same durations
// and edit list, from TrackDurations).
class RecoveredMoov {
public:
    explicit RecoveredMoov(const journal::FileInfo& file) : mFile(file) {}

    // The chunk's samples join its track's tables (may throw bad_alloc).
    void addChunk(const journal::TrackInfo& track, const ChunkRecord& chunk);
    // Ends the tables; false when no track has a sample to show.
    bool finish();

    // The moov's size, and the moov itself through `sink`.
    int64_t size(uint64_t now) const;
    void write(IByteSink* sink, uint64_t now) const;

private:
    struct Track {
        journal::TrackInfo info;
        std::unique_ptr<SampleTable> table;
    };

    const journal::FileInfo mFile;
    std::vector<Track> mTracks;
};

}  // namespace qor

#endif  // QOR_RECOVERED_MOOV_H_
