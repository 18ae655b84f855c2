#pragma once

// Leading and trailing spaces removed from a QString or QByteArray; other
// white space (a tab) stays, as the controller's own tools trim.
template <typename Text>
Text trimSpaces(const Text &text)
{
    const auto space = typename Text::value_type(' ');
    int begin = 0;
    int end = int(text.size());
    while (begin < end && text.at(begin) == space)
        ++begin;
    while (end > begin && text.at(end - 1) == space)
        --end;
    return text.mid(begin, end - begin);
}
