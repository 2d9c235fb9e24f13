#include "platform/ocr/TesseractRecognizer.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <omp.h>
#include <system_error>
#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/resultiterator.h>
#include <unistd.h>
#include <utility>

namespace velnote::platform {
namespace {

// Tesseract data names and the identifiers they recognise, in the order the recogniser offers
// them. A name missing here has no identifier to give.
constexpr std::array<std::pair<std::string_view, std::string_view>, 19> kTessdataLanguages = {{
    {"eng", "en-US"}, {"fra", "fr-FR"},       {"ita", "it-IT"},       {"deu", "de-DE"}, {"spa", "es-ES"},
    {"por", "pt-BR"}, {"chi_sim", "zh-Hans"}, {"chi_tra", "zh-Hant"}, {"kor", "ko-KR"}, {"jpn", "ja-JP"},
    {"rus", "ru-RU"}, {"ukr", "uk-UA"},       {"tha", "th-TH"},       {"vie", "vi-VN"}, {"ara", "ar-SA"},
    {"nld", "nl-NL"}, {"pol", "pl-PL"},       {"tur", "tr-TR"},       {"ind", "id-ID"},
}};

// "jpn+eng" for {"ja-JP", "en-US"}; unknown identifiers and repeats are left out. Empty when
// nothing is left.
std::string tesseractLanguages(const std::vector<std::string>& identifiers) {
    std::string joined;
    std::vector<std::string> seen;
    for (const std::string& identifier : identifiers) {
        const std::string name = TesseractRecognizer::dataName(identifier);
        if (name.empty() || std::find(seen.begin(), seen.end(), name) != seen.end())
            continue;
        seen.push_back(name);
        joined += (joined.empty() ? "" : "+") + name;
    }
    return joined;
}

// A user-words file for the engine's initialisation, removed when dropped.
class WordsFile {
  public:
    explicit WordsFile(const std::vector<std::string>& words) {
        if (words.empty())
            return;
        std::string pattern = (std::filesystem::temp_directory_path() / "velnote-words-XXXXXX").string();
        const int fd = ::mkstemp(pattern.data());
        if (fd < 0)
            return;
        ::close(fd);
        path_ = pattern;
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        for (const std::string& word : words) {
            // One word a line: a line break inside an entry would make two.
            if (word.find_first_of("\r\n") == std::string::npos)
                out << word << '\n';
        }
    }
    ~WordsFile() {
        if (!path_.empty()) {
            std::error_code ignored;
            std::filesystem::remove(path_, ignored);
        }
    }
    WordsFile(const WordsFile&) = delete;
    WordsFile& operator=(const WordsFile&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

bool cancelRequested(void* token, int /*words*/) {
    return static_cast<const std::stop_token*>(token)->stop_requested();
}

} // namespace

struct TesseractRecognizer::Engine {
    std::string key;
    tesseract::TessBaseAPI api;
    ~Engine() { api.End(); }
};

TesseractRecognizer::TesseractRecognizer(std::filesystem::path tessdata) : tessdata_(std::move(tessdata)) {}
TesseractRecognizer::~TesseractRecognizer() = default;

TesseractRecognizer& TesseractRecognizer::shared() {
    // Never destroyed: Tesseract's own cache of dictionaries is a static made after this one, so
    // it would go first at exit and find our engines still holding its entries.
    static auto* recognizer = new TesseractRecognizer;
    return *recognizer;
}

std::filesystem::path TesseractRecognizer::tessdataDirectory() {
    const char* prefix = std::getenv("TESSDATA_PREFIX");
    if (prefix != nullptr && *prefix != '\0')
        return prefix;
    return "/usr/share/tesseract-ocr/5/tessdata";
}

std::vector<std::string> TesseractRecognizer::installedLanguages(const std::filesystem::path& tessdata) {
    std::vector<std::string> languages;
    for (const auto& [name, identifier] : kTessdataLanguages) {
        std::error_code ignored;
        if (std::filesystem::is_regular_file(tessdata / (std::string(name) + ".traineddata"), ignored))
            languages.emplace_back(identifier);
    }
    return languages;
}

std::string TesseractRecognizer::dataName(const std::string& identifier) {
    for (const auto& [name, known] : kTessdataLanguages) {
        if (known == identifier)
            return std::string(name);
    }
    return {};
}

std::unique_ptr<TesseractRecognizer::Engine>
TesseractRecognizer::takeEngine(const std::string& key, const std::string& languages,
                                const std::vector<std::string>& words, std::string& error) {
    {
        std::lock_guard lock(mutex_);
        if (!idle_.empty() && idle_.front()->key != key)
            idle_.clear(); // other languages or words now: the old engines will not be asked again
        if (!idle_.empty()) {
            auto engine = std::move(idle_.back());
            idle_.pop_back();
            return engine;
        }
    }
    auto engine = std::make_unique<Engine>();
    engine->key = key;
    const WordsFile wordsFile(words);
    std::vector<std::string> names{"debug_file"};
    std::vector<std::string> values{"/dev/null"}; // Tesseract's own chatter would go to stderr
    if (!wordsFile.path().empty()) {
        names.emplace_back("user_words_file");
        values.push_back(wordsFile.path().string());
    }
    if (engine->api.Init(tessdata_.c_str(), languages.c_str(), tesseract::OEM_DEFAULT, nullptr, 0, &names,
                         &values, false) != 0) {
        error = "cannot load the recognition data \"" + languages + "\" from " + tessdata_.string();
        return nullptr;
    }
    // Screenshots carry no resolution; 96 dpi is what screens show text at.
    engine->api.SetVariable("user_defined_dpi", "96");
    // Screens scatter short texts over the page: find as much text as possible in no given order.
    engine->api.SetPageSegMode(tesseract::PSM_SPARSE_TEXT);
    return engine;
}

void TesseractRecognizer::returnEngine(std::unique_ptr<Engine> engine) {
    engine->api.Clear();
    std::lock_guard lock(mutex_);
    if (idle_.empty() || idle_.front()->key == engine->key)
        idle_.push_back(std::move(engine));
}

std::vector<TextObservation> TesseractRecognizer::recognize(const GrayImage& image,
                                                            const TextRecognitionRequest& request,
                                                            const std::stop_token& stop, std::string& error) {
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() < static_cast<std::size_t>(image.width) * image.height) {
        error = "empty image";
        return {};
    }
    std::string languages = tesseractLanguages(request.languages);
    if (languages.empty())
        languages = "eng";
    std::string key = languages;
    for (const std::string& word : request.customWords)
        key += '\n' + word;
    auto engine = takeEngine(key, languages, request.customWords, error);
    if (!engine)
        return {};

    // Tesseract's parallel loops ask for a fixed number of threads, whose waits spin: on a machine
    // busy with other work one screenshot took a minute instead of a second. Letting the OpenMP
    // runtime size this thread's parallel regions by the free processors (load average) keeps them
    // from fighting the rest of the machine, and changes nothing for other threads.
    omp_set_dynamic(1);
    tesseract::TessBaseAPI& api = engine->api;
    api.SetImage(image.pixels.data(), image.width, image.height, 1, image.width);
    tesseract::ETEXT_DESC monitor;
    std::stop_token token = stop;
    monitor.cancel = &cancelRequested;
    monitor.cancel_this = &token;
    std::vector<TextObservation> lines;
    if (api.Recognize(&monitor) != 0) {
        if (!stop.stop_requested())
            error = "recognition failed";
        returnEngine(std::move(engine));
        return {};
    }
    std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    constexpr auto level = tesseract::RIL_TEXTLINE;
    if (it && !stop.stop_requested()) {
        do {
            std::unique_ptr<char[]> text(it->GetUTF8Text(level));
            int left = 0, top = 0, right = 0, bottom = 0;
            if (!text || !it->BoundingBox(level, &left, &top, &right, &bottom))
                continue;
            lines.push_back(
                TextObservation{.text = text.get(),
                                .confidence = std::clamp(it->Confidence(level) / 100.0F, 0.0F, 1.0F),
                                .x = static_cast<double>(left),
                                .y = static_cast<double>(top),
                                .width = static_cast<double>(right - left),
                                .height = static_cast<double>(bottom - top)});
        } while (it->Next(level));
    }
    it.reset();
    returnEngine(std::move(engine));
    if (stop.stop_requested())
        return {};
    return lines;
}

} // namespace velnote::platform
