#pragma once
// What kbr3300ctl asks of the user: a password typed without echo, a yes/no question, and lines
// of a password file or of standard input. Questions and password prompts are made only while
// standard input is a terminal, and go to the terminal itself, so that they work while the output
// goes to a file or a pipe.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kbr::ctl {

// A password file, a line of standard input: never more than this is read.
inline constexpr size_t MAX_PASSWORD_FILE_SIZE = 64 * 1024;

// Shows `prompt` on the terminal and reads one line with echo off; nothing when there is no
// terminal or the input ended.
std::optional<std::string> ReadSecretFromTerminal(std::string_view prompt);

// Asks `question` followed by " [y/N] " on the terminal; true only for an answer starting with y
// or Y. Nothing when there is no terminal.
std::optional<bool> AskOnTerminal(std::string_view question);

// The first line of a regular file ("-": the next line of standard input), without its line end;
// nothing (and why) when it cannot be read.
std::optional<std::string> ReadFirstLine(const std::string& path, std::string* error);

// The next line of standard input, without its line end; nothing at its end.
std::optional<std::string> ReadInputLine();

}  // namespace kbr::ctl
