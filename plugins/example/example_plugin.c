/* Example plug-in for "DLL插件" rules.
 *
 *   example_plugin.so          -> default: appends a line naming the page the value came from
 *   example_plugin.so|Fix      -> trims blanks (spaces, tabs, line breaks, the ideographic
 *                                 space U+3000) from both ends of the text
 *   example_plugin.so|Describe -> shows what arrived: field, address, page, value and text
 *   example_plugin.so|Fail     -> changes the text, then reports failure (the host keeps the
 *                                 value it had)
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tarvex_plugin.h"

TARVEX_PLUGIN_EXPORT int example_default(tarvex_plugin_result* result, const char* url, const char* page,
                                         const char* field, const char* value) TARVEX_PLUGIN_DEFAULT_NAME;
TARVEX_PLUGIN_EXPORT int Fix(tarvex_plugin_result* result, const char* url, const char* page, const char* field,
                             const char* value);
TARVEX_PLUGIN_EXPORT int Describe(tarvex_plugin_result* result, const char* url, const char* page, const char* field,
                                  const char* value);
TARVEX_PLUGIN_EXPORT int Fail(tarvex_plugin_result* result, const char* url, const char* page, const char* field,
                              const char* value);

static const char kSourceLabel[] = "\n\xE6\x9D\xA5\xE6\xBA\x90\xEF\xBC\x9A"; /* "\n来源：" */

int example_default(tarvex_plugin_result* result, const char* url, const char* page, const char* field,
                    const char* value) {
    (void)page;
    (void)field;
    (void)value;
    size_t n = result->length + sizeof kSourceLabel - 1 + strlen(url);
    char* text = malloc(n + 1);
    if (!text) return 1;
    memcpy(text, result->text, result->length);
    memcpy(text + result->length, kSourceLabel, sizeof kSourceLabel - 1);
    strcpy(text + result->length + sizeof kSourceLabel - 1, url);
    /* The host copies the text inside set, so the buffer is ours to free right away. */
    result->set(result, text, n);
    free(text);
    return 0;
}

/* Length of a blank at s[i..n), or 0. */
static size_t blankAt(const char* s, size_t i, size_t n) {
    if (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n') return 1;
    if (i + 3 <= n && (unsigned char)s[i] == 0xE3 && (unsigned char)s[i + 1] == 0x80 && (unsigned char)s[i + 2] == 0x80)
        return 3;
    return 0;
}

int Fix(tarvex_plugin_result* result, const char* url, const char* page, const char* field, const char* value) {
    (void)url;
    (void)page;
    (void)field;
    (void)value;
    const char* s = result->text;
    size_t b = 0, e = result->length, k;
    while (b < e && (k = blankAt(s, b, e)) > 0) b += k;
    for (;;) {
        if (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) {
            --e;
        } else if (e >= b + 3 && blankAt(s, e - 3, e) == 3) {
            e -= 3;
        } else {
            break;
        }
    }
    result->set(result, s + b, e - b);
    return 0;
}

int Describe(tarvex_plugin_result* result, const char* url, const char* page, const char* field, const char* value) {
    size_t n = strlen(url) + strlen(page) + strlen(field) + strlen(value) + result->length + 64;
    char* text = malloc(n);
    if (!text) return 1;
    snprintf(text, n, "field=%s;url=%s;page=%s;value=%s;text=%s", field, url, page, value, result->text);
    result->set(result, text, TARVEX_PLUGIN_NUL_TERMINATED);
    free(text);
    return 0;
}

int Fail(tarvex_plugin_result* result, const char* url, const char* page, const char* field, const char* value) {
    (void)url;
    (void)page;
    (void)field;
    (void)value;
    result->set(result, "half-done", TARVEX_PLUGIN_NUL_TERMINATED);
    return 2;
}
