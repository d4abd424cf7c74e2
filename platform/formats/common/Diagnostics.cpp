#include "Diagnostics.h"

#include <atomic>
#include <cstdio>

namespace qorn::formats {

namespace {
std::atomic<DiagnosticReporter> gReporter{nullptr};
std::atomic<const char*> gProgram{"qorn"};

void WriteToStderr(const Diagnostic& d) {
    const std::string line = FormatDiagnostic(gProgram.load(), d) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}
} // namespace

std::string Diagnostic::text() const {
    if (offset == kNoOffset) return message; // a report about an object names it in its message
    std::string s = message;
    if (!what.empty()) s += " in '" + what + "'";
    return s + " at offset " + std::to_string(offset);
}

void Diagnostics::append(const Diagnostics& other, const std::string& prefix) {
    for (Diagnostic d : other.items_) {
        d.message = prefix + d.message;
        items_.push_back(std::move(d));
    }
}

void Diagnostics::setFile(const std::string& path) {
    for (auto& d : items_)
        if (d.file.empty()) d.file = path;
}

std::string FormatDiagnostic(std::string_view program, const Diagnostic& d) {
    std::string line(program);
    line += d.severity == Severity::Error ? ": error: " : ": warning: ";
    if (!d.file.empty()) line += d.file + ": ";
    line += d.text();
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    return line;
}

void SetDiagnosticReporter(DiagnosticReporter reporter) {
    gReporter.store(reporter);
}

void Report(const Diagnostics& diagnostics) {
    if (const DiagnosticReporter reporter = gReporter.load())
        for (const auto& d : diagnostics)
            reporter(d);
}

void ReportToStderr(const char* program) {
    gProgram.store(program);
    gReporter.store(&WriteToStderr);
}

} // namespace qorn::formats
