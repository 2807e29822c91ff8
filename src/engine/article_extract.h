#pragma once
// "智能识别": the article of a page found without rules. The page is parsed into an HTML tree
// (libxml2's HTML parser) and scored block by block (text density, link density, punctuation,
// class/id hints, structure); the headline, date and byline come from structured data (JSON-LD,
// meta tags) and the visible lines around the headline.
//
// Pure; any thread. Several content workers may extract at once.
#include <string>
#include <string_view>

namespace tarvex::engine {

// What a field by 智能识别 takes ("radio_4_content").
enum class ArticlePart { Body, Title, Date, Author };

// "正文", "标题", "发布时间", "作者"; any other text (also empty) reads as Body.
ArticlePart ArticlePartFromText(std::string_view text);
const char* ArticlePartText(ArticlePart part);

struct Article {
    std::string title;   // the article's own headline, without the site name
    std::string body;    // clean HTML, one block per line; "" when no article was found
    std::string date;    // "YYYY-MM-DD HH:MM:SS"; "" when the page states none
    std::string author;  // the byline; "" when none
};

// The article of one page text (UTF-8, as fetched and decoded; a "<tarvex>" wrapper and
// invalid bytes are allowed). The last page analysed is kept per thread, so asking for two
// parts of the same page parses it once.
Article ExtractArticle(std::string_view html);
std::string ExtractArticlePart(std::string_view html, ArticlePart part);

// The first date in a text as "YYYY-MM-DD HH:MM:SS" ("00:00:00" when it gives no time):
// "2026-03-05", "2026/3/5 10:20", "2026年3月5日 10:20", "2017-03-10T09:58:03+08:00",
// "March 5, 2026 at 3:04 pm", "5 March 2026". The time is kept as the page states it.
// "" when the text holds no valid date.
std::string NormalizeDate(std::string_view text);

}  // namespace tarvex::engine
