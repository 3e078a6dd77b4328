#include "report/JsonText.h"

#include <cstdio>

#include "report/MetricsText.h"
#include "report/NumberText.h"

namespace fm::report {

void appendJsonString(std::string* out, std::string_view text) {
    out->push_back('"');
    for (const char c : validUtf8(std::string(text))) {
        switch (c) {
            case '"':
                out->append("\\\"");
                break;
            case '\\':
                out->append("\\\\");
                break;
            case '\n':
                out->append("\\n");
                break;
            case '\r':
                out->append("\\r");
                break;
            case '\t':
                out->append("\\t");
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out->append(escaped);
                } else {
                    out->push_back(c);
                }
        }
    }
    out->push_back('"');
}

void appendJsonNumber(std::string* out, const std::optional<double>& value, int decimals) {
    if (!appendFixed(out, value, decimals)) {
        out->append("null");
    }
}

}  // namespace fm::report
