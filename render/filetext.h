#pragma once

#include <QString>

#include <string_view>

namespace zarn {

// Names in BNA files are bytes in whatever code page the file was written
// in. They are shown as UTF-8 where they are valid UTF-8, else as
// Windows-1252 (which covers Latin-1), so that no byte is lost on screen.
QString DecodeFileText(std::string_view bytes);
// The same into `text`, whose storage is reused where it can be: for the
// many short names a map prints one after another.
void DecodeFileText(std::string_view bytes, QString& text);

}  // namespace zarn
