#include "dfu/progress_parser.h"

namespace DFU {

namespace {

// An update is about 60 characters; a longer segment is some other line.
constexpr int max_update_length = 128;
const QByteArray bytes_suffix = QByteArrayLiteral(" bytes");

bool is_digit(char c) { return c >= '0' && c <= '9'; }

} // namespace

int ProgressParser::percent_of(const QByteArray& update) {
    int at = 0;
    const int size = update.size();
    auto skip = [&](const char* text) {
        const QByteArray t = QByteArray::fromRawData(text, static_cast<int>(qstrlen(text)));
        if (update.mid(at, t.size()) != t)
            return false;
        at += t.size();
        return true;
    };
    if (!skip("Download\t[") && !skip("Upload\t["))
        return -1;
    while (at < size && (update[at] == '=' || update[at] == ' '))
        ++at;
    if (!skip("]"))
        return -1;
    const int blanks = at;
    while (at < size && update[at] == ' ')
        ++at;
    if (at == blanks)
        return -1;
    int percent = 0;
    const int digits = at;
    while (at < size && is_digit(update[at]) && at - digits < 3)
        percent = percent * 10 + (update[at++] - '0');
    if (at == digits || percent > 100 || !skip("%"))
        return -1;
    const int gap = at;
    while (at < size && update[at] == ' ')
        ++at;
    if (at == gap)
        return -1;
    const int count = at;
    while (at < size && is_digit(update[at]))
        ++at;
    if (at == count || update.mid(at) != bytes_suffix)
        return -1;
    return percent;
}

void ProgressParser::end_segment(std::vector<int>& found) {
    if (!reported_ && !overlong_) {
        const int percent = percent_of(segment_);
        if (percent >= 0)
            found.push_back(percent);
    }
    segment_.clear();
    reported_ = false;
    overlong_ = false;
}

std::vector<int> ProgressParser::feed(const QByteArray& bytes) {
    std::vector<int> found;
    for (const char c : bytes) {
        if (c == '\r' || c == '\n') {
            end_segment(found);
            continue;
        }
        if (overlong_)
            continue;
        if (segment_.size() >= max_update_length) {
            overlong_ = true;
            segment_.clear();
            continue;
        }
        segment_.append(c);
    }
    // An update is complete at its " bytes": reported now, not only at the next separator,
    // which dfu-util prints only with the next update.
    if (!reported_ && !overlong_ && segment_.endsWith(bytes_suffix)) {
        const int percent = percent_of(segment_);
        if (percent >= 0) {
            found.push_back(percent);
            reported_ = true;
        }
    }
    return found;
}

} // namespace DFU
