#pragma once
// Checks that keep scripts off a user's site and out of the attachment folder: names whose
// segments escape their folder or hide, names with an executable or server-side extension
// anywhere in them, and image files whose bytes are no image. Pure functions (the byte check
// reads the file's first bytes); any thread.
#include <string>
#include <string_view>

namespace tarvex::collect {

// Why a file name (the last segment of a path, without folders) must not be stored or
// uploaded: "" when it is fine. Refused are empty names, names beginning with ".", and every
// name with an executable or server-side part anywhere among its dot-separated parts
// ("a.php", "a.php.jpg", "a.phtml", ".htaccess", "a.asp;.jpg").
std::string UnsafeFileName(std::string_view name);

// Why an upload address or remote path must not be used: "" when it is fine. The scheme and
// host of an http(s) address are dropped; "%xx" escapes are read; segments that are "." or "..",
// empty (other than one leading "/"), hidden (beginning with ".") or hold control characters are
// refused, and so is a last segment that UnsafeFileName refuses.
std::string UnsafeUploadPath(std::string_view newUrl);

// The image format the file's leading bytes show ("jpeg", "png", "gif", "webp", "bmp", "ico",
// "avif", "heic", "tiff"), or "" when they show none (an HTML error page, a script, an empty or
// unreadable file).
std::string ImageFormatOf(const std::string& path);
std::string ImageFormatOfBytes(std::string_view head);

// A name or address for JPEG data: its last segment's extension becomes ".jpg" unless it is
// ".jpg" or ".jpeg" already ("s_a.png" → "s_a.jpg", "s_a" → "s_a.jpg"); folders stay.
std::string WithJpegExtension(const std::string& nameOrAddress);

}  // namespace tarvex::collect
