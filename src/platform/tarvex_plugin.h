/* Tarvex采集器 plug-in interface (C ABI, version 1).
 *
 * A plug-in is a shared library placed in the workspace folder "Plugin/". A field's "DLL插件"
 * rule names it as "file" or "file|function"; without "|function" the function "default" is
 * called. The library is loaded (dlopen) just before each call and unloaded (dlclose) right
 * after it, so a plug-in must not keep state between calls or start threads that outlive a call.
 * Several content workers may call the same plug-in at the same time, each with its own
 * arguments: exported functions must be reentrant.
 *
 * Every exported function has the type tarvex_plugin_fn and receives, in this order:
 *   result  the text the plug-in may replace (see tarvex_plugin_result);
 *   url     the address of the content page;
 *   page    the page text (all pages of the content page joined by "[dd:分页符]", line breaks
 *           written as "<临时换行替换换行>" and "<临时换行2替换换行2>");
 *   field   the field's name;
 *   value   the field's current value.
 * All texts are UTF-8 and NUL-terminated; they belong to the host and are valid only during the
 * call. The plug-in returns 0 when it is done; any other return value tells the host the call
 * failed, and the host then keeps the value it had before the call.
 *
 * How a new result crosses the boundary: the plug-in never hands the host memory it allocated.
 * It calls result->set(result, text, length) with its new text; the host copies the bytes at
 * once, so the plug-in may pass a stack buffer or free its own copy right afterwards, and
 * nothing the plug-in allocated needs to live after the library is unloaded. length may be
 * TARVEX_PLUGIN_NUL_TERMINATED for a NUL-terminated text. set may be called several times; the
 * last call wins. result->text and result->length show the current text (the value on entry,
 * then whatever set last stored).
 *
 * Because "default" is a keyword in C and C++, declare the default function with
 * TARVEX_PLUGIN_DEFAULT_NAME, which gives it the exported symbol name "default":
 *
 *     TARVEX_PLUGIN_EXPORT int my_default(tarvex_plugin_result* result, const char* url,
 *         const char* page, const char* field, const char* value) TARVEX_PLUGIN_DEFAULT_NAME;
 *
 * Build with: cc -shared -fPIC -I<this folder> my_plugin.c -o Plugin/my_plugin.so
 */
#ifndef TARVEX_PLUGIN_H
#define TARVEX_PLUGIN_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define TARVEX_PLUGIN_ABI_VERSION 1
#define TARVEX_PLUGIN_NUL_TERMINATED ((size_t)-1)

#if defined(__GNUC__) || defined(__clang__)
#define TARVEX_PLUGIN_EXPORT __attribute__((visibility("default")))
#define TARVEX_PLUGIN_DEFAULT_NAME __asm__("default")
#else
#error "tarvex_plugin.h needs GCC or Clang"
#endif

typedef struct tarvex_plugin_result tarvex_plugin_result;

struct tarvex_plugin_result {
    /* The current text (UTF-8, NUL-terminated) and its length in bytes. Read-only for the
     * plug-in; valid until the next call of set or the end of the call. */
    const char* text;
    size_t length;
    /* Replaces the text with a copy of `length` bytes at `text` (or of the NUL-terminated text
     * when length is TARVEX_PLUGIN_NUL_TERMINATED). A NULL text sets the empty text. */
    void (*set)(tarvex_plugin_result* self, const char* text, size_t length);
    /* Owned by the host; do not touch. */
    void* host;
};

typedef int (*tarvex_plugin_fn)(tarvex_plugin_result* result, const char* url, const char* page, const char* field,
                                const char* value);

#ifdef __cplusplus
}
#endif

#endif /* TARVEX_PLUGIN_H */
