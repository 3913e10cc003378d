// Text made safe inside XML and HTML elements and attribute values: the five special
// characters become entity or character references ("&amp;", "&lt;", "&gt;", "&quot;",
// "&#39;", which both languages read). Used by the QC page and the KML and GPX tracks.
#pragma once

#include <string>

namespace talverin {

[[nodiscard]] std::string EscapeMarkup(const std::string& text);

}  // namespace talverin
