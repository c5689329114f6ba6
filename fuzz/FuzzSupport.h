#pragma once
// Shared pieces of the fuzz targets: one scratch folder per process, writing an input to a file
// the code under test opens by name, and the Qt application the picture and settings code needs.
#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzsupport {

// A folder of this process under the temporary folder, created on first use and removed at exit.
const std::string& ScratchFolder();

// Writes the bytes to ScratchFolder()/name and returns the full path.
std::string WriteInput(const std::string& name, const uint8_t* data, size_t size);

// Creates the QApplication (offscreen platform) once; call from LLVMFuzzerInitialize.
void EnsureQtApplication();

} // namespace fuzzsupport
