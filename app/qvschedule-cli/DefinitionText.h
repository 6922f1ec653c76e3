// The text of a definition as the program hands it to the library and reads it itself: UTF-8,
// read once. A byte-order mark or the first bytes tell UTF-16 and UTF-32 (big or little endian);
// otherwise the XML declaration's encoding names the encoding, UTF-8 when it names none. Text in
// another encoding is converted (iconv) and its declaration then says UTF-8, so the library and
// the program's own reading (the summary, the vuser pools) see one and the same document.
#pragma once

#include <string>

// Converts `text` in place. False, with `problem` saying why, when the encoding is unknown or the
// bytes are not valid in it, or when the text holds a NUL character (it could not be handed over
// as a C string without losing the rest).
bool definitionTextToUtf8(std::string& text, std::string& problem);
