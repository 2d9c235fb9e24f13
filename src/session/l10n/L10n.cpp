#include "session/l10n/L10n.h"

#include "session/l10n/L10nCatalog.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace velnote {
namespace {

std::string argText(const L10nArg& arg) {
    if (const auto* s = std::get_if<std::string>(&arg))
        return *s;
    if (const auto* i = std::get_if<std::int64_t>(&arg))
        return std::to_string(*i);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%g", std::get<double>(arg));
    return buffer;
}

// Formats one numeric conversion with the printf flags, width and precision
// the text gave (`spec` holds them without the length modifier).
std::string numberText(const std::string& spec, char conversion, const L10nArg& arg) {
    char buffer[128];
    const bool floating = conversion == 'f' || conversion == 'g' || conversion == 'e';
    double asDouble = 0;
    long long asInteger = 0;
    if (const auto* i = std::get_if<std::int64_t>(&arg)) {
        asInteger = *i;
        asDouble = static_cast<double>(*i);
    } else if (const auto* d = std::get_if<double>(&arg)) {
        asDouble = *d;
        asInteger = static_cast<long long>(*d);
    } else {
        return argText(arg);
    }
    if (floating) {
        const std::string f = "%" + spec + conversion;
        std::snprintf(buffer, sizeof buffer, f.c_str(), asDouble);
    } else {
        const std::string f = "%" + spec + "ll" + (conversion == 'u' ? 'u' : 'd');
        std::snprintf(buffer, sizeof buffer, f.c_str(), asInteger);
    }
    return buffer;
}

// Built by the first caller; concurrent first callers wait for it.
const L10nCatalog& shared() {
    static const L10nCatalog catalog =
        L10nCatalog::load(L10nCatalog::locate(), L10nCatalog::Locale::fromEnvironment());
    return catalog;
}

} // namespace

std::string L10n::localized(std::string_view key, std::string_view defaultText,
                            const std::vector<L10nArg>& args) {
    return shared().localized(key, defaultText, args);
}

bool L10n::isJapanese() {
    return shared().isJapanese();
}

std::string L10n::defaultLanguageCode() {
    return shared().defaultLanguageCode();
}

const std::vector<std::string>& L10n::preferredTags() {
    return shared().preferredTags();
}

std::string L10n::format(std::string_view text, const std::vector<L10nArg>& args) {
    std::string out;
    size_t next = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        size_t j = i + 1;
        if (j < text.size() && text[j] == '%') {
            out += '%';
            i = j;
            continue;
        }
        // Optional position "%2$@".
        size_t position = next;
        size_t digits = j;
        while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits])))
            ++digits;
        if (digits > j && digits < text.size() && text[digits] == '$') {
            position = std::strtoul(std::string(text.substr(j, digits - j)).c_str(), nullptr, 10) - 1;
            j = digits + 1;
        } else {
            ++next;
        }
        std::string spec;
        while (j < text.size() &&
               std::string_view("-+ #0123456789.").find(text[j]) != std::string_view::npos) {
            spec += text[j++];
        }
        while (j < text.size() && (text[j] == 'l' || text[j] == 'h' || text[j] == 'q' || text[j] == 'z'))
            ++j;
        if (j >= text.size() || position >= args.size()) {
            out.append(text.substr(i, j - i + (j < text.size() ? 1 : 0)));
            i = j;
            continue;
        }
        const char conversion = text[j];
        if (conversion == '@' || conversion == 's') {
            out += argText(args[position]);
        } else {
            out += numberText(spec, conversion == 'i' ? 'd' : conversion, args[position]);
        }
        i = j;
    }
    return out;
}

} // namespace velnote
