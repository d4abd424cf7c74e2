// The real main window on the scriptable platform, with files on disk.
#pragma once

#include "tests/support/EngineTestPlatform.h"
#include "ui/TFormQorn.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QMimeData;
class QWidget;

class FormFixture : public ::testing::Test {
  protected:
    // Builds the window and runs its creation handler.
    void StartForm();
    // Writes `bytes` bytes to `name` in the test's folder; returns the path.
    std::string WriteFile(const std::string& name, std::size_t bytes = 64);
    // A small valid Standard MIDI File.
    std::string WriteMidi(const std::string& name);
    std::string Folder() const;
    // A drop of these paths (as a file manager sends them).
    static std::unique_ptr<QMimeData> DropOf(const std::vector<std::string>& paths);
    void Drop(const std::vector<std::string>& paths);
    // Opens `path` through the open button with a dialog that picks it.
    void OpenWithDialog(const std::string& path);
    // Runs `inspect` on the next modal box, then closes it, while `action`
    // runs (so a box never blocks a test). False when no box came.
    static bool WithModalBox(const std::function<void()>& action, const std::function<void(QWidget*)>& inspect);

    std::string Caption() const;
    std::string Text(const QWidget* widget) const;

    qorn::testdouble::EngineTestPlatform platform;
    QTemporaryDir dir;
    std::unique_ptr<TFormQorn> form;
};
