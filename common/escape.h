// One field of a line of text that holds tab-separated fields: a backslash,
// tab, line feed or carriage return inside it is written as \\, \t, \n or \r,
// so that a Windows path such as C:\new\notes.txt reads back as it was. The
// install log's manifest and the host's transcript both write their fields so.
#pragma once

#include <string>

inline std::string EscapeField(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        switch (ch) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += ch;
        }
    }
    return out;
}
