#pragma once

#include <QString>

// Shared by the widget tests: main() creates the QApplication (on the platform the test's
// environment names) before the tests run.
namespace testenv {

// A fresh temporary folder for this test binary.
QString tempDir();

} // namespace testenv
