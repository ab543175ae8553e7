// Inputs kept beside the tests (fuzzing findings among them), read whole.
#pragma once

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace kav::test {

inline std::string DataFile(const std::string& name) {
    const std::string path = std::string(KAV_TEST_DATA_DIR) + "/" + name;
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("test data missing: " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace kav::test
