#include "net/MetricsText.h"

#include <charconv>
#include <cmath>

namespace velth::metrics {

std::string escapeLabelValue(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size());
    for (const char c : utf8) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            out += c;
            break;
        }
    }
    return out;
}

std::string formatValue(double value)
{
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value > 0 ? "+Inf" : "-Inf";
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    if (error != std::errc())
        return "NaN";
    return std::string(text, end);
}

void Exposition::family(std::string_view name, std::string_view type, std::string_view help)
{
    // HELP text escapes the backslash and the line feed only.
    m_text += "# HELP ";
    m_text += name;
    m_text += ' ';
    for (const char c : help) {
        if (c == '\\')
            m_text += "\\\\";
        else if (c == '\n')
            m_text += "\\n";
        else
            m_text += c;
    }
    m_text += "\n# TYPE ";
    m_text += name;
    m_text += ' ';
    m_text += type;
    m_text += '\n';
}

void Exposition::sample(std::string_view name, std::initializer_list<Label> labels, double value)
{
    m_text += name;
    if (labels.size() > 0) {
        m_text += '{';
        bool first = true;
        for (const Label& label : labels) {
            if (!first)
                m_text += ',';
            first = false;
            m_text += label.name;
            m_text += "=\"";
            m_text += escapeLabelValue(label.value);
            m_text += '"';
        }
        m_text += '}';
    }
    m_text += ' ';
    m_text += formatValue(value);
    m_text += '\n';
}

} // namespace velth::metrics
