// Writes rendered audio to a WAV, FLAC or Ogg Vorbis file through
// libsndfile, block by block, so memory stays the same whatever the length.
// The audio goes to a temporary file beside the output, which takes the
// output's name only once it is complete: a failed render never leaves a
// half file under the name asked for.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct sf_private_tag;

namespace qorn::render {

class TempFile;

enum class Container { Wav, Flac, Ogg };
enum class SampleFormat { Pcm16, Pcm24, Float32 };

// The container an output's extension names (.wav, .flac, .ogg), if any.
std::optional<Container> ContainerForPath(std::string_view path);
// "16", "24" or "32f".
std::optional<SampleFormat> ParseSampleFormat(std::string_view text);

// The 16-bit sample a rendered sample becomes: clipped to full scale, then
// rounded to the nearest step.
std::int16_t ToPcm16(float sample);

class AudioFileWriter {
  public:
    // Frames gathered before they go to the file.
    static constexpr int kBufferFrames = 4096;

    // Null with the reason in *error when the file cannot be made or the
    // container cannot hold the sample format.
    static std::unique_ptr<AudioFileWriter> Open(const std::string& path, Container container, SampleFormat format,
                                                 int sampleRate, std::string* error);
    // Removes the temporary file unless finish() succeeded.
    ~AudioFileWriter();
    AudioFileWriter(const AudioFileWriter&) = delete;
    AudioFileWriter& operator=(const AudioFileWriter&) = delete;

    // False once a write has failed; error() says why.
    bool write(const float* left, const float* right, int frames);
    // Writes what is left, closes the file and gives it its final name.
    bool finish();
    const std::string& error() const { return error_; }

  private:
    AudioFileWriter() = default;
    bool flush();
    void discard();

    sf_private_tag* file_ = nullptr;
    SampleFormat format_ = SampleFormat::Pcm16;
    bool floats_ = false;
    std::unique_ptr<TempFile> temp_;
    std::string final_;
    std::string error_;
    int used_ = 0;
    float interleaved_[kBufferFrames * 2] = {};
    int converted_[kBufferFrames * 2] = {};
};

} // namespace qorn::render
