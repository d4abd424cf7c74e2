#include "fileinfo/OpenAndPlayFile.h"

#include "engine/TDMusicEngine.h"
#include "fileinfo/BoundedFile.h"
#include "fileinfo/DisplayPath.h"
#include "fileinfo/InfoTexts.h"
#include "fileinfo/MidiInfoReader.h"

#include <algorithm>
#include <utility>

namespace qorn::fileinfo {
namespace {

void Progress(OpenFileHost& host, const std::string& caption, const char* labelTime) {
    host.SetTitles(caption);
    if (labelTime != nullptr) host.SetLabelTime(labelTime);
    host.RepaintNow();
}

// An open that ends before playback leaves the window as after start-up
// with the failure in LabelFN, and the open button usable again.
void EndWithFailure(OpenFileHost& host, const char* message) {
    host.SetLabelFN(message);
    host.ShowTitle();
    host.SetLabelTime("");
    host.EnableComOpen();
}

} // namespace

bool IsMidiFileName(const std::string& path) {
    if (path.size() < 3) return false;
    const char c = path[path.size() - 3];
    return c == 'm' || c == 'M';
}

std::int32_t RecordedFileSize(std::uint64_t size) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(size & 0xFFFFFFFFu));
}

void OpenAndPlayFile(OpenFileHost& host, std::string path) {
    Progress(host, "Please Wait .", "wait");

    std::uint64_t size = 0;
    {
        BoundedFile file;
        if (!file.Open(path)) {
            EndWithFailure(host, "File Not Found");
            return;
        }
        size = file.Size();
    }
    Progress(host, "Please Wait ..", "wait");

    const bool midi = IsMidiFileName(path);
    const std::int32_t recordedSize = RecordedFileSize(size);
    bool load = true;
    // A script or container asks again which of its segments to play.
    if (host.LastFileName() == path && host.LastFileSize() == recordedSize && host.LastSegment().empty()) {
        load = false;
    } else {
        // Recorded before the load; a failed load clears the record again, as
        // the engine then holds no piece at all.
        host.LastFileName() = path;
        host.LastFileSize() = recordedSize;
        host.LastSegment().clear();
    }
    Progress(host, "Please Wait ...", "Wait");

    if (load) {
        bool loaded = DMEngine.LoadSegment(path.c_str());
        bool cancelled = false;
        if (!loaded && DMEngine.LoadMessage[0] != '\0') {
            // A script or container plays a segment it holds: its only one, or the one chosen.
            const std::vector<std::string> held = DMEngine.HeldSegments(path.c_str());
            const int chosen = held.size() == 1 ? 0
                               : held.empty()   ? -1
                                                : host.ChooseSegment(ExtractBaseName(path), held);
            if (chosen >= 0 && static_cast<std::size_t>(chosen) < held.size()) {
                host.LastSegment() = held[static_cast<std::size_t>(chosen)];
                loaded = DMEngine.LoadSegment(path.c_str(), host.LastSegment().c_str());
            } else if (!held.empty()) {
                DMEngine.LoadMessage[0] = '\0'; // cancelled: nothing to tell
                cancelled = true;
            }
        }
        if (loaded && midi) {
            Progress(host, "Please Wait ....", "WAIT");
            loaded = DMEngine.LoadSegment(path.c_str());
        }
        if (!loaded) {
            host.LastFileName().clear();
            host.LastFileSize() = 0;
            host.LastSegment().clear();
            // A file that is not a piece is told what it is.
            EndWithFailure(host, DMEngine.LoadMessage[0] != '\0' ? DMEngine.LoadMessage
                                 : cancelled                     ? ""
                                                                 : "File Open Error");
            return;
        }
    }

    // "FILE: SEGMENT" for a segment of a script; a load that had something
    // to say tells so, and the information box lists it.
    const std::string& segment = host.LastSegment();
    const std::size_t warnings =
        static_cast<std::size_t>(std::count(DMEngine.LoadWarnings.begin(), DMEngine.LoadWarnings.end(), '\n'));
    std::string following = segment.empty() ? "" : ": " + segment;
    if (warnings > 0) following += " [" + std::to_string(warnings) + (warnings == 1 ? " warning" : " warnings") + "]";
    const std::string label = ShortenDisplayPath(path, following.size()) + following;
    host.SetLabelFN(label);
    host.RepaintNow();
    const std::string baseName = segment.empty() ? ExtractBaseName(path) : segment;
    Progress(host, "Please Wait ... " + baseName, nullptr);

    if (midi) {
        InfoTexts info = ReadMidiInfo(path, baseName);
        host.InfoText1() = std::move(info.text1);
        host.InfoText2() = std::move(info.text2);
        host.InfoText3() = std::move(info.text3);
    } else {
        host.InfoText1() = baseName;
        host.InfoText2() = NoCopyrightText;
        host.InfoText3() = SegmentFileText;
    }
    if (warnings > 0) host.InfoText3() += "\n\n" + DMEngine.LoadWarnings;

    host.StopTimers();
    const int started = host.StartPlayback();
    std::string caption;
    if (started == 0) {
        host.EnableComPlay();
        caption = host.AppName() + " : " + baseName;
    } else {
        caption = host.AppName() + " [Error]";
    }
    host.SetTitles(caption);
    host.EnableComInfo();
    host.EnableComOpen();
}

} // namespace qorn::fileinfo
