// The name and byte checks that keep scripts off a site and error pages out of the pictures.
#include "collect/attachment_safety.h"

#include <gtest/gtest.h>

#include "support/sandbox_workspace.h"

namespace tarvex::collect {
namespace {

TEST(AttachmentSafety, ScriptsAndHiddenNamesAreRefusedWhereverTheExtensionStands) {
    for (const char* name :
         {"shell.php",  "a.phtml",    "a.PHP5", "a.php.jpg", "a.jpg.php", "x.phar",   "x.pht",     "run.cgi",
          "a.pl",       "a.py",       "a.asp",  "a.aspx",    "a.jsp",     "a.shtml",  ".htaccess", ".user.ini",
          "a.asp;.jpg", "a.php .jpg", "a.php.", "a.exe",     "",          "a\x01.jpg"})
        EXPECT_NE(UnsafeFileName(name), "") << name;
    for (const char* name : {"a.jpg", "photo.png", "图片.gif", "archive.tar.gz", "report.pdf", "ver1.2.webp", "phpinfo",
                             "my-php-notes.txt", "a.jpeg"})
        EXPECT_EQ(UnsafeFileName(name), "") << name;
}

TEST(AttachmentSafety, UploadPathsMayNotLeaveTheirFolderOrHide) {
    struct Case {
        const char* newUrl;
        bool ok;
    } cases[] = {
        {"/2019/01/a.jpg", true},
        {"http://site.example:8080/up/a.jpg", true},
        {"up/a.jpg", true},
        {"/ver1.2/a.jpg", true},
        {"/../../escape/c.jpg", false},
        {"/up/./a.jpg", false},
        {"/up//a.jpg", false},
        {"/up/%2e%2e/a.jpg", false},
        {"/up\\..\\a.jpg", false},
        {"/.cache/a.jpg", false},
        {"/up/", false},
        {"", false},
        {"http://site.example", false},
        {"/up/shell.php", false},
        {"/up/a.php.png", false},
        {"https://site.example/up/.htaccess", false},
    };
    for (const auto& c : cases) {
        const std::string why = UnsafeUploadPath(c.newUrl);
        EXPECT_EQ(why.empty(), c.ok) << c.newUrl << " " << why;
        // The message names the file.
        if (!c.ok && *c.newUrl) {
            EXPECT_NE(why.find(c.newUrl), std::string::npos) << why;
        }
    }
}

TEST(AttachmentSafety, ImageFormatsAreToldByTheirLeadingBytes) {
    using namespace std::string_literals;
    struct Case {
        std::string head;
        const char* format;
    } cases[] = {
        {"\xFF\xD8\xFF\xE0"s + std::string(20, '\0'), "jpeg"},
        {"\x89PNG\r\n\x1A\n"s + std::string(20, '\0'), "png"},
        {"GIF89a" + std::string(20, '\0'), "gif"},
        {"RIFF\x10\0\0\0WEBPVP8 "s, "webp"},
        {"BM" + std::string(40, '\0'), "bmp"},
        {"\0\0\1\0\1\0"s + std::string(20, '\0'), "ico"},
        {"\0\0\0\x1C"s + "ftypavif" + std::string(12, '\0'), "avif"},
        {"<html><body>404 Not Found</body></html>", ""},
        {"<?php system($_GET['c']); ?>", ""},
        {"<svg xmlns=\"http://www.w3.org/2000/svg\"><script>alert(1)</script></svg>", ""},
        {"", ""},
        {"\xFF\xD8", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(ImageFormatOfBytes(c.head), c.format) << c.head;

    test::SandboxWorkspace ws;
    ws.writeFile("real.png", "\x89PNG\r\n\x1A\n" + std::string(30, 'x'));
    ws.writeFile("fake.png", "<?php echo 1; ?>");
    EXPECT_EQ(ImageFormatOf(ws.path("real.png")), "png");
    EXPECT_EQ(ImageFormatOf(ws.path("fake.png")), "");
    EXPECT_EQ(ImageFormatOf(ws.path("missing.png")), "");
}

TEST(AttachmentSafety, JpegDataGetsAJpegName) {
    EXPECT_EQ(WithJpegExtension("/up/s_a.png"), "/up/s_a.jpg");
    EXPECT_EQ(WithJpegExtension("/up/s_a"), "/up/s_a.jpg");
    EXPECT_EQ(WithJpegExtension("/up.v2/s_a"), "/up.v2/s_a.jpg");
    EXPECT_EQ(WithJpegExtension("s_a.JPG"), "s_a.JPG");
    EXPECT_EQ(WithJpegExtension("s_a.jpeg"), "s_a.jpeg");
}

}  // namespace
}  // namespace tarvex::collect
