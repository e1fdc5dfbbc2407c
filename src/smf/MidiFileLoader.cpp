#include "smf/MidiFileLoader.h"

#include <vector>

#include "common/ErrorTexts.h"
#include "common/FileChooser.h"
#include "common/MessageSink.h"
#include "platform/ReadOnlyFile.h"
#include "smf/MidiF0Data.h"
#include "smf/MidiF1Data.h"
#include "smf/SmfBuffer.h"
#include "smf/SmfFile.h"
#include "song/MidiTrackData.h"

namespace sonrigo {

MidiFileLoader::MidiFileLoader()
{
    std::string chosen;
    if (ChooseFileToOpen(kDefaultExtension, kFilter, "", chosen) != 0)
        Load(chosen);
}

MidiFileLoader::MidiFileLoader(const std::string& path)
{
    Load(path);
}

MidiFileLoader::~MidiFileLoader() = default;

std::string_view MidiFileLoader::ReportError(ErrorCode code)
{
    return kMidiFileLoaderErrors.report(code);
}

void MidiFileLoader::Load(const std::string& path)
{
    path_ = path;
    song_.reset();
    playable_.reset();
    size_ = 0;

    std::int64_t length = 0;
    {
        ReadOnlyFile file(path);
        if (!file.isOpen()) {
            ShowMessage(std::string(kMidiFileCannotBeOpenedText) + path);
            return;
        }
        length = file.length();
    }
    if (length >= SmfBuffer::kCapacity) {
        ReportError(MidiFileLoaderError::DataTooLarge);
        return;
    }
    fileBlock_ = ZeroedBlock(static_cast<std::size_t>(length));
    if (ReadFileExact(path, fileBlock_.span(), length) == 0)
        return;
    size_ = static_cast<std::uint32_t>(length);

    fileFormat_ = songFormat_ = DetectSmfFormat(fileBlock_.span());
    if (fileFormat_ == 0) {
        // The single-track song goes right after the split: move its records.
        MidiF0Data single(path);
        song_ = std::make_unique<MidiF1Data>(std::move(single));
        songFormat_ = 1;
    } else if (fileFormat_ == 1) {
        song_ = std::make_unique<MidiF1Data>(path);
        if (song_->trackCount() == 0) {
            song_.reset();
            size_ = 0;
        }
    } else {
        ReportError(MidiFileLoaderError::NotMidiFile);
        size_ = 0;
    }
}

void MidiFileLoader::Flatten()
{
    if (!song_ || song_->state() != TrackState::Duration) {
        ReportError(MidiFileLoaderError::Internal);
        return;
    }
    playable_ = std::make_unique<MidiF0Data>(TrackState::Duration);
    playable_->setDivision(song_->division());
    // Merging from the last track to the first leaves events of equal time in
    // file track order, and joins the track names.
    // The song goes right after: its records are moved, not copied.
    std::vector<MidiTrackData*> tracks;
    for (std::int32_t i = 0; i < song_->trackCount(); ++i)
        tracks.push_back(&song_->track(i));
    playable_->track().mergeTracksFromLastMoving(tracks);
    song_.reset();
}

}  // namespace sonrigo
