#pragma once
// What kbr3300ctl asks of the terminal: whether a stream is one, a password typed without echo,
// and a yes/no question. Questions and password prompts are made only while standard input is a
// terminal, and go to the controlling terminal, so that they work while the output goes to a file
// or a pipe.

#include <optional>
#include <string>
#include <string_view>

namespace kbr::ctl {

bool IsTerminal(int fd);

// Shows `prompt` on the terminal and reads one line with echo off; nothing when there is no
// terminal or the input ended.
std::optional<std::string> ReadSecretFromTerminal(std::string_view prompt);

// Asks `question` followed by " [y/N] " on the terminal; true only for an answer starting with y
// or Y. Nothing when there is no terminal.
std::optional<bool> AskOnTerminal(std::string_view question);

// The first line of a file ("-": standard input), without its line end; nothing (and why) when
// it cannot be read.
std::optional<std::string> ReadFirstLine(const std::string& path, std::string* error);

}  // namespace kbr::ctl
