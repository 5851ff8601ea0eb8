#include "module/TypeLibRegistration.h"

namespace {

size_t LastSeparator(const std::string& path) { return path.find_last_of("\\/"); }

}  // namespace

std::vector<std::string> TypeLibCandidates(const std::string& modulePath) {
    const size_t separator = LastSeparator(modulePath);
    const size_t dot = modulePath.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && (separator == std::string::npos || dot > separator);
    return {modulePath, (hasExtension ? modulePath.substr(0, dot) : modulePath) + ".tlb"};
}

std::string DirectoryOf(const std::string& path) {
    const size_t separator = LastSeparator(path);
    return separator == std::string::npos ? std::string() : path.substr(0, separator);
}
