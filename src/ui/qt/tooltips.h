#pragma once
// The tooltips of the rule and settings fields, kept in one table: what a field does and an
// example value. A field is found by its object name or by its caption (the text of its label,
// check box, radio button, button or group box, up to the first "：" or ":"), within a scope:
// the window's class name, the object name of a page that holds it (e.g. "rulePage_替换"), or
// "*" for every window. UI thread only.
#include <QString>
#include <span>

class QWidget;

namespace tarvex::ui {

struct Tooltip {
    const char* scope;  // window class, page object name, or "*"
    const char* key;    // object name or caption
    const char* text;   // what the field does, then "例：" and an example
};

std::span<const Tooltip> tooltipTable();

// The tooltip for `key` in the first of `scopes` that has one (then "*"); empty when none.
QString tooltipFor(const QStringList& scopes, const QString& key);

// The caption key of a label or button text: "&" removed, cut at the first "：" or ":", trimmed.
QString captionKey(const QString& text);

// Gives every widget of `window` without a tooltip the one the table has for it; a label's
// tooltip goes to its field too (its buddy, its form row's field, or the widget beside it), and
// so does a check box's when a field follows it in its row.
void applyTooltips(QWidget* window);

}  // namespace tarvex::ui
