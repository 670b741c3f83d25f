#include "ctl/Terminal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ctl/Output.h"
#include "platform/Platform.h"
#include "platform/Terminal.h"

namespace kbr::ctl {

namespace {

std::string FirstLine(std::string_view text) {
    const size_t end = text.find_first_of("\r\n");
    return std::string(text.substr(0, end));
}

}  // namespace

std::optional<std::string> ReadSecretFromTerminal(std::string_view prompt) {
    return platform::ReadTerminalLine(prompt, false);
}

std::optional<bool> AskOnTerminal(std::string_view question) {
    const auto answer = platform::ReadTerminalLine(std::string(question) + " [y/N] ", true);
    if (!answer) return std::nullopt;
    return !answer->empty() && (answer->front() == 'y' || answer->front() == 'Y');
}

std::optional<std::string> ReadInputLine() {
    std::string line;
    bool any = false;
    for (int c = std::getchar(); c != EOF; c = std::getchar()) {
        any = true;
        if (c == '\n') break;
        if (line.size() < MAX_PASSWORD_FILE_SIZE) line.push_back(static_cast<char>(c));
    }
    if (!any) return std::nullopt;
    return FirstLine(line);
}

std::optional<std::string> ReadFirstLine(const std::string& path, std::string* error) {
    if (path == "-") {
        auto line = ReadInputLine();
        if (!line && error) *error = "standard input is empty";
        return line;
    }
    const platform::WholeFile file = platform::ReadWholeFile(path, MAX_PASSWORD_FILE_SIZE);
    if (file.tooLarge) {
        if (error)
            *error = PrintablePath(path) + ": larger than " + std::to_string(MAX_PASSWORD_FILE_SIZE / 1024) + " KiB";
        return std::nullopt;
    }
    if (file.error != 0) {
        if (error) {
            *error = PrintablePath(path) + ": " +
                     (file.error == ESPIPE ? std::string("not a regular file") : std::strerror(file.error));
        }
        return std::nullopt;
    }
    return FirstLine(std::string_view(reinterpret_cast<const char*>(file.bytes.data()), file.bytes.size()));
}

}  // namespace kbr::ctl
