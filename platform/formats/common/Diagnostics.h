// What the readers and the loader have to say about a file they read:
// parts skipped, references not found, data cut short. One sink for all of
// them, so the player, the renderer and the tests see the same reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qorn::formats {

enum class Severity : std::uint8_t { Warning, Error };

inline constexpr std::size_t kNoOffset = static_cast<std::size_t>(-1);

struct Diagnostic {
    Severity severity = Severity::Warning;
    // The chunk id ('segh') or the object kind and name (style 'x.sty').
    std::string what;
    // The file it concerns; empty while a reader works on bytes alone.
    std::string file;
    // Byte offset in `file`, kNoOffset when there is none.
    std::size_t offset = kNoOffset;
    std::string message;

    // "MESSAGE in 'WHAT' at offset N" for a place in a file, else MESSAGE.
    std::string text() const;
};

class Diagnostics {
  public:
    void add(Diagnostic d) { items_.push_back(std::move(d)); }
    void warn(std::string message, std::string what = {}, std::size_t offset = kNoOffset) {
        items_.push_back({Severity::Warning, std::move(what), {}, offset, std::move(message)});
    }
    // A warning that is only text (the readers that name the chunk in it).
    void push_back(std::string message) { warn(std::move(message)); }
    // Everything of `other`, each message after `prefix`.
    void append(const Diagnostics& other, const std::string& prefix = {});
    // Gives every report without a file the file `path`.
    void setFile(const std::string& path);

    bool empty() const { return items_.empty(); }
    std::size_t size() const { return items_.size(); }
    void clear() { items_.clear(); }
    const Diagnostic& operator[](std::size_t i) const { return items_[i]; }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }
    const std::vector<Diagnostic>& items() const { return items_; }

  private:
    std::vector<Diagnostic> items_;
};

// "PROGRAM: warning: FILE: MESSAGE" (the form compilers use), one line.
std::string FormatDiagnostic(std::string_view program, const Diagnostic& d);

// Where a process wants the reports of its loads to go. The loader passes
// every report of every load to the reporter, if one is installed; the
// player and the renderer install one that writes to stderr.
using DiagnosticReporter = void (*)(const Diagnostic&);
void SetDiagnosticReporter(DiagnosticReporter reporter);
void Report(const Diagnostics& diagnostics);
// Installs a reporter writing FormatDiagnostic(program, d) lines to stderr.
void ReportToStderr(const char* program);

} // namespace qorn::formats
