// Helpers shared by the importer tests: DXF text built from group pairs, and
// a file of given bytes in a temporary folder of its own.
#ifndef TESTS_IMPORT_IMPORT_SUPPORT_H
#define TESTS_IMPORT_IMPORT_SUPPORT_H

#include <initializer_list>
#include <string>
#include <utility>

#include "support/temp_dir.h"

namespace importsupport {

// DXF text from code/value pairs, one line each.
inline std::string Pairs(std::initializer_list<std::pair<int, std::string>> pairs, const char* eol = "\n") {
    std::string s;
    for (const auto& [code, value] : pairs) s += std::to_string(code) + eol + value + eol;
    return s;
}

inline std::string Section(const std::string& name, const std::string& body) {
    return Pairs({{0, "SECTION"}, {2, name}}) + body + Pairs({{0, "ENDSEC"}});
}

// A drawing with the entities, and the blocks section when there are blocks.
inline std::string Drawing(const std::string& entities, const std::string& blocks = "") {
    std::string s;
    if (!blocks.empty()) s += Section("BLOCKS", blocks);
    return s + Section("ENTITIES", entities) + Pairs({{0, "EOF"}});
}

// The bytes as a file of the given name, removed with its folder.
class TempFile {
public:
    explicit TempFile(const std::string& bytes, const std::string& name = "drawing.dxf")
        : path_(dir_.Write(name, bytes)) {}
    const std::string& Path() const { return path_; }

private:
    testsupport::TempDir dir_{"morvik-import"};
    std::string path_;
};

}  // namespace importsupport

#endif  // TESTS_IMPORT_IMPORT_SUPPORT_H
