// The help file: topics, each opened by its keyword.
//
// Format: a line "@topic <keyword>" starts a topic; the lines up to the next such line are its
// text (Markdown). Keywords compare without regard to letter case.
// Failures: none; a keyword without a topic gives nothing.
#pragma once

#include <optional>
#include <string>

namespace platform {

std::optional<std::string> HelpTopic(const std::string& helpText, const std::string& keyword);

// Every topic's text in the file's order: the help's contents.
std::string HelpContents(const std::string& helpText);

}  // namespace platform
