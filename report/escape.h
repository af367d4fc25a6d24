// Names from outside (file names, coding-region names) written into pages.
#pragma once
#include <string>
#include <string_view>

namespace rivulon {

// Text for an HTML page: & < > " ' written as character references.
std::string html_escape(std::string_view text);

// A relative URL reference to a file named `name`: every byte but letters,
// digits and . _ ~ - percent-encoded, so that # ? % blanks, control and
// non-ASCII bytes (and anything HTML would read) name the file, not a fragment,
// a query or markup. Ordinary names come out unchanged.
std::string url_escape(std::string_view name);

// `text` with every byte but letters, digits and those of `kept` written as %XX.
std::string percent_escape(std::string_view text, std::string_view kept);

}  // namespace rivulon
