#include "session/l10n/L10nCatalog.h"

#include "platform/fs/Files.h"
#include "platform/json/Json.h"
#include "session/VelnoteLogger.h"

#include <cctype>
#include <cstdlib>
#include <system_error>

namespace velnote {
namespace {

namespace fs = std::filesystem;
using platform::Json;

constexpr const char* kFileName = "Localizable.xcstrings";

void logLoadFailure(std::string_view description) {
    VelnoteLogger::app().error("L10n: failed to load Localizable.xcstrings: {}", description);
}

std::map<std::string, std::string, std::less<>> languageTexts(const Json& entry) {
    std::map<std::string, std::string, std::less<>> texts;
    if (!entry.is_object())
        return texts;
    const auto values = entry.find("localizedValues");
    if (values == entry.end() || !values->is_object())
        return texts;
    for (const auto& [tag, value] : values->items()) {
        if (!value.is_object())
            continue;
        const auto text = value.find("stringValue");
        if (text != value.end() && text->is_string())
            texts.emplace(tag, text->get<std::string>());
    }
    return texts;
}

L10nCatalog::Table walk(const Json& root) {
    const auto nested = root.find("localizedStrings");
    const Json& table = nested != root.end() && nested->is_object() ? *nested : root;
    L10nCatalog::Table result;
    for (const auto& [key, entry] : table.items()) {
        auto texts = languageTexts(entry);
        if (!texts.empty())
            result.emplace(key, std::move(texts));
    }
    return result;
}

std::optional<fs::path> executableFolder() {
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    if (error)
        return std::nullopt;
    return exe.parent_path();
}

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string uppered(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

} // namespace

L10nCatalog::Locale L10nCatalog::Locale::parse(std::string_view posixName) {
    // language[_territory][.codeset][@modifier]
    posixName = posixName.substr(0, posixName.find_first_of(".@"));
    const auto underscore = posixName.find('_');
    const std::string_view language = posixName.substr(0, underscore);
    Locale locale;
    if (language.empty() || language == "C" || language == "POSIX")
        return locale;
    locale.languageCode = lowered(language);
    if (underscore != std::string_view::npos && underscore + 1 < posixName.size()) {
        locale.regionCode = uppered(posixName.substr(underscore + 1));
    }
    return locale;
}

L10nCatalog::Locale L10nCatalog::Locale::fromEnvironment() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return parse(value);
    }
    return {};
}

L10nCatalog::L10nCatalog(Table table, Locale locale) : table_(std::move(table)) {
    if (locale.languageCode) {
        preferredTags_.push_back(*locale.languageCode);
        if (locale.regionCode)
            preferredTags_.push_back(*locale.languageCode + "-" + *locale.regionCode);
    }
    preferredTags_.push_back("ja");
    preferredTags_.push_back("en");
    japanese_ = locale.languageCode == "ja";
    lookupTags_ = preferredTags_;
    if (locale.languageCode == "en")
        std::erase(lookupTags_, "ja");
}

L10nCatalog L10nCatalog::load(const std::optional<fs::path>& file, Locale locale) {
    if (!file) {
        VelnoteLogger::app().error("L10n: Localizable.xcstrings resource missing");
        return L10nCatalog({}, std::move(locale));
    }
    std::string bytes;
    try {
        bytes = platform::readFile(*file);
    } catch (const std::system_error& e) {
        logLoadFailure(e.what());
        return L10nCatalog({}, std::move(locale));
    }
    return L10nCatalog(parse(bytes), std::move(locale));
}

L10nCatalog::Table L10nCatalog::parse(std::string_view bytes) {
    Json root;
    try {
        root = platform::parseJson(bytes);
    } catch (const platform::JsonDecodeError& e) {
        logLoadFailure(e.what());
        return {};
    }
    if (!root.is_object()) {
        // A property-list catalogue would be tried here, but there is no
        // property-list parser on Linux: only the JSON form is supported.
        VelnoteLogger::app().error("L10n: unsupported Localizable.xcstrings format");
        return {};
    }
    return walk(root);
}

std::optional<fs::path> L10nCatalog::locate() {
    if (const char* dir = std::getenv("VELNOTE_RESOURCES_DIR"); dir != nullptr && *dir != '\0') {
        return fs::path(dir) / kFileName;
    }
    std::error_code error;
#ifdef VELNOTE_SOURCE_RESOURCES_DIR
    if (const fs::path source = fs::path(VELNOTE_SOURCE_RESOURCES_DIR) / kFileName;
        fs::exists(source, error)) {
        return source;
    }
#endif
    if (const auto folder = executableFolder()) {
        const fs::path installed = *folder / ".." / "share" / "velnote" / kFileName;
        if (fs::exists(installed, error))
            return installed.lexically_normal();
    }
    return std::nullopt;
}

std::optional<std::string> L10nCatalog::localizedString(std::string_view key) const {
    const auto entry = table_.find(key);
    if (entry == table_.end())
        return std::nullopt;
    for (const auto& tag : lookupTags_) {
        if (const auto text = entry->second.find(tag); text != entry->second.end())
            return text->second;
    }
    return std::nullopt;
}

std::string L10nCatalog::localized(std::string_view key, std::string_view defaultText,
                                   const std::vector<L10nArg>& args) const {
    const std::string text = localizedString(key).value_or(std::string(defaultText));
    return args.empty() ? text : L10n::format(text, args);
}

} // namespace velnote
