#pragma once
// A strict recogniser of JSON texts (RFC 8259, an object or array at the top), for the GUI
// settings fuzz target. Qt 5.15's JSON parser leaks the nested container it was filling when
// a text breaks off inside it, and the earlier value of a key that an object repeats, so only
// texts that it surely accepts whole may reach it. Stricter than Qt where they differ: no byte
// order mark, no escapes beyond the standard ones and none in keys, no repeated keys, short
// numbers (no overflow) and shallow nesting; raw control characters in strings are allowed, as
// Qt and the shipped settings file have them.

#include <QByteArray>
#include <QSet>

namespace fuzz {

class JsonText {
public:
    static bool accepts(const QByteArray& text) {
        JsonText t(text);
        t.space();
        if (t.at_end() || (t.peek() != '{' && t.peek() != '['))
            return false;
        if (!t.value(0))
            return false;
        t.space();
        return t.at_end();
    }

private:
    static constexpr int max_depth = 64;
    static constexpr int max_number_length = 20; // with an exponent of two digits: no overflow

    explicit JsonText(const QByteArray& text)
        : p_(text.constData()), end_(text.constData() + text.size()) {}

    bool at_end() const { return p_ >= end_; }
    char peek() const { return *p_; }
    bool eat(char c) {
        if (at_end() || *p_ != c)
            return false;
        ++p_;
        return true;
    }
    bool eat(const char* word) {
        for (; *word != '\0'; ++word)
            if (!eat(*word))
                return false;
        return true;
    }
    void space() {
        while (!at_end() && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r'))
            ++p_;
    }
    static bool is_digit(char c) { return c >= '0' && c <= '9'; }
    static bool is_hex(char c) {
        return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    }
    bool digits() {
        if (at_end() || !is_digit(*p_))
            return false;
        while (!at_end() && is_digit(*p_))
            ++p_;
        return true;
    }

    bool value(int depth) {
        space();
        if (at_end())
            return false;
        switch (*p_) {
        case '{':
            return container(depth, '}', true);
        case '[':
            return container(depth, ']', false);
        case '"':
            return string();
        case 't':
            return eat("true");
        case 'f':
            return eat("false");
        case 'n':
            return eat("null");
        default:
            return number();
        }
    }

    bool container(int depth, char close, bool members) {
        if (depth >= max_depth)
            return false;
        ++p_;
        space();
        if (eat(close))
            return true;
        QSet<QByteArray> keys;
        for (;;) {
            space();
            if (members && !key(keys))
                return false;
            if (!value(depth + 1))
                return false;
            space();
            if (eat(close))
                return true;
            if (!eat(','))
                return false;
        }
    }

    bool key(QSet<QByteArray>& keys) {
        const char* start = p_;
        if (!string())
            return false;
        const QByteArray name(start, static_cast<int>(p_ - start));
        if (name.contains('\\') || keys.contains(name))
            return false;
        keys.insert(name);
        space();
        return eat(':');
    }

    bool string() {
        if (!eat('"'))
            return false;
        while (!at_end()) {
            const char c = *p_++;
            if (c == '"')
                return true;
            if (c != '\\')
                continue; // the text came through QString, so its UTF-8 is well-formed
            if (at_end())
                return false;
            const char e = *p_++;
            if (e == 'u') {
                for (int i = 0; i < 4; ++i)
                    if (at_end() || !is_hex(*p_++))
                        return false;
            } else if (QByteArray("\"\\/bfnrt").indexOf(e) < 0) {
                return false;
            }
        }
        return false;
    }

    bool number() {
        const char* start = p_;
        eat('-');
        if (!eat('0') && !digits())
            return false;
        if (eat('.') && !digits())
            return false;
        if (eat('e') || eat('E')) {
            if (!eat('+'))
                eat('-');
            const char* exponent = p_;
            if (!digits() || p_ - exponent > 2)
                return false;
        }
        return p_ - start <= max_number_length;
    }

    const char* p_;
    const char* end_;
};

} // namespace fuzz
