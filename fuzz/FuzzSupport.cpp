#include "FuzzSupport.h"

#include <QApplication>
#include <QLoggingCategory>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

namespace fuzzsupport {

namespace {

void RemoveScratch() {
    std::error_code ec;
    std::filesystem::remove_all(ScratchFolder(), ec);
}

} // namespace

const std::string& ScratchFolder() {
    // Never destroyed: the exit handler that removes the folder runs after static destructors.
    static const std::string* folder = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "ordavine-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        auto* kept = new std::string(pattern);
        std::atexit(RemoveScratch);
        return kept;
    }();
    return *folder;
}

std::string WriteInput(const std::string& name, const uint8_t* data, size_t size) {
    const std::string path = ScratchFolder() + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    return path;
}

void EnsureQtApplication() {
    static QApplication* app = nullptr;
    if (app)
        return;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Image plug-ins complain about every broken file on stderr; the fuzzer's output stays
    // readable.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.warning=false"));
    static int argc = 1;
    static char name[] = "ordavine-fuzz";
    static char* argv[] = {name, nullptr};
    app = new QApplication(argc, argv);
}

} // namespace fuzzsupport
