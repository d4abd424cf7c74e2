#include "app/render/AudioFileWriter.h"

#include "app/render/TempFile.h"

#include <sndfile.h>

#include <algorithm>
#include <cctype>
#include <cmath>

namespace qorn::render {

namespace {

bool EndsWith(std::string_view text, std::string_view tail) {
    if (text.size() < tail.size()) return false;
    for (std::size_t i = 0; i < tail.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[text.size() - tail.size() + i])) != tail[i]) return false;
    return true;
}

int SndFormat(Container container, SampleFormat format) {
    switch (container) {
    case Container::Wav:
        return SF_FORMAT_WAV | (format == SampleFormat::Pcm16   ? SF_FORMAT_PCM_16
                                : format == SampleFormat::Pcm24 ? SF_FORMAT_PCM_24
                                                                : SF_FORMAT_FLOAT);
    case Container::Flac:
        return SF_FORMAT_FLAC | (format == SampleFormat::Pcm24 ? SF_FORMAT_PCM_24 : SF_FORMAT_PCM_16);
    case Container::Ogg:
        return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    }
    return 0;
}

} // namespace

std::optional<Container> ContainerForPath(std::string_view path) {
    if (EndsWith(path, ".wav")) return Container::Wav;
    if (EndsWith(path, ".flac")) return Container::Flac;
    if (EndsWith(path, ".ogg")) return Container::Ogg;
    return std::nullopt;
}

std::optional<SampleFormat> ParseSampleFormat(std::string_view text) {
    if (text == "16") return SampleFormat::Pcm16;
    if (text == "24") return SampleFormat::Pcm24;
    if (text == "32f") return SampleFormat::Float32;
    return std::nullopt;
}

std::int16_t ToPcm16(float sample) {
    return static_cast<std::int16_t>(std::lrint(std::clamp(sample, -1.0f, 1.0f) * 32767.0f));
}

std::unique_ptr<AudioFileWriter> AudioFileWriter::Open(const std::string& path, Container container,
                                                       SampleFormat format, int sampleRate, std::string* error) {
    auto failWith = [&](std::string why) {
        if (error) *error = std::move(why);
        return nullptr;
    };
    if (container == Container::Flac && format == SampleFormat::Float32)
        return failWith("FLAC holds 16- or 24-bit samples, not 32f");

    std::unique_ptr<AudioFileWriter> w(new AudioFileWriter());
    w->format_ = format;
    // Vorbis codes floats; the integer formats are converted here so every
    // container gets the same samples.
    w->floats_ = container == Container::Ogg || format == SampleFormat::Float32;
    w->final_ = path;
    w->temp_ = std::make_unique<TempFile>(path);
    if (w->temp_->fd() < 0) return failWith(w->temp_->error());

    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 2;
    info.format = SndFormat(container, format);
    w->file_ = sf_open_fd(w->temp_->fd(), SFM_WRITE, &info, SF_FALSE);
    if (w->file_ == nullptr) {
        return failWith("cannot write " + path + ": " + sf_strerror(nullptr));
    }
    if (container == Container::Ogg) {
        double quality = 0.6;
        sf_command(w->file_, SFC_SET_VBR_ENCODING_QUALITY, &quality, sizeof quality);
    }
    return w;
}

AudioFileWriter::~AudioFileWriter() {
    discard();
}

void AudioFileWriter::discard() {
    if (file_ != nullptr) sf_close(file_);
    file_ = nullptr;
    temp_.reset();
}

bool AudioFileWriter::write(const float* left, const float* right, int frames) {
    if (file_ == nullptr) return false;
    while (frames > 0) {
        const int n = std::min(frames, kBufferFrames - used_);
        float* out = interleaved_ + std::size_t(used_) * 2;
        for (int i = 0; i < n; ++i) {
            out[2 * i] = left[i];
            out[2 * i + 1] = right[i];
        }
        used_ += n;
        left += n;
        right += n;
        frames -= n;
        if (used_ == kBufferFrames && !flush()) return false;
    }
    return true;
}

bool AudioFileWriter::flush() {
    if (used_ == 0) return true;
    sf_count_t written = 0;
    if (floats_) {
        written = sf_writef_float(file_, interleaved_, used_);
    } else {
        // Full-scale ints: libsndfile keeps their top 16 or 24 bits.
        const int samples = used_ * 2;
        if (format_ == SampleFormat::Pcm16) {
            for (int i = 0; i < samples; ++i)
                converted_[i] = int(ToPcm16(interleaved_[i])) * 65536;
        } else {
            for (int i = 0; i < samples; ++i)
                converted_[i] = int(std::lrint(double(std::clamp(interleaved_[i], -1.0f, 1.0f)) * 8388607.0)) * 256;
        }
        written = sf_writef_int(file_, converted_, used_);
    }
    if (written != used_) {
        const int code = sf_error(file_);
        error_ = "cannot write " + final_ + ": " +
                 (code != SF_ERR_NO_ERROR ? std::string(sf_strerror(file_)) : std::string("the disk is full"));
        discard();
        return false;
    }
    used_ = 0;
    return true;
}

bool AudioFileWriter::finish() {
    if (file_ == nullptr) return false;
    if (!flush()) return false;
    const int closed = sf_close(file_);
    file_ = nullptr;
    if (closed != 0) {
        error_ = "cannot write " + final_ + ": " + sf_error_number(closed);
        discard();
        return false;
    }
    if (!temp_->commit()) {
        error_ = temp_->error();
        discard();
        return false;
    }
    temp_.reset();
    return true;
}

} // namespace qorn::render
