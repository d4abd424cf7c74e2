// What the open-file workflow needs of the main window: its state fields and
// the few window operations the workflow performs, in the window's terms.
// The main form implements it; tests can too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qorn::fileinfo {

class OpenFileHost {
  public:
    virtual ~OpenFileHost() = default;

    // State fields of the main form (texts are multibyte, UTF-8).
    virtual const std::string& AppName() const = 0;
    virtual std::string& LastFileName() = 0;
    virtual std::int32_t& LastFileSize() = 0;
    virtual std::string& InfoText1() = 0;
    virtual std::string& InfoText2() = 0;
    virtual std::string& InfoText3() = 0;
    // The segment of the script or container LastFileName that plays (empty
    // for any other file).
    virtual std::string& LastSegment() = 0;

    // Window caption first, then the application title, to the same text.
    virtual void SetTitles(const std::string& text) = 0;
    // The revision title on caption and application title, as after start-up;
    // restores the window after an open that failed before playback.
    virtual void ShowTitle() = 0;
    virtual void SetLabelFN(const std::string& text) = 0;
    virtual void SetLabelTime(const std::string& text) = 0;
    // Paints the window at once so progress texts are seen while work runs.
    virtual void RepaintNow() = 0;
    // TimTime, then TimCheck.
    virtual void StopTimers() = 0;
    // The window's playback start: 0 when playing, non-zero when refused.
    virtual int StartPlayback() = 0;
    virtual void EnableComPlay() = 0;
    virtual void EnableComInfo() = 0;
    virtual void EnableComOpen() = 0;
    // Asks which of the segments `names` of the script or container `file`
    // to play, the first chosen at first: its index, or -1 when cancelled.
    virtual int ChooseSegment(const std::string& file, const std::vector<std::string>& names) = 0;
};

} // namespace qorn::fileinfo
