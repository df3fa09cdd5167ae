#pragma once

#include <QString>

#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>

// The component's trace: while the process-wide DebugFlag is on, each line goes to the trace
// sink as one record, exactly as built here (no prefix, no time stamp, no line end).
namespace DebugTrace {

bool DebugFlag();
void setDebugFlag(bool on);

// Values in their default text form: a Long as signed decimal, a Boolean as True or False.
inline std::string toText(bool value)
{
    return value ? "True" : "False";
}
template<std::integral T>
requires(!std::same_as<T, bool>) std::string toText(T value)
{
    return std::to_string(value);
}
inline std::string toText(std::string_view text)
{
    return std::string(text);
}
inline std::string toText(const char *text)
{
    return std::string(text);
}
inline std::string toText(const std::string &text)
{
    return text;
}
inline std::string toText(const QString &text)
{
    return text.toStdString();
}

// Builds a line by plain concatenation.
template<class... Parts> std::string line(const Parts &...parts)
{
    std::string out;
    (out.append(toText(parts)), ...);
    return out;
}

// Writes a line whatever DebugFlag says (the exception line and the empty-grab line).
void writeAlways(std::string_view text);

template<class... Parts> void Trace(const Parts &...parts)
{
    if (DebugFlag())
        writeAlways(line(parts...));
}

} // namespace DebugTrace
